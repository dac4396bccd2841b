#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test with CTest.
#   ./test.sh                    all tests
#   ./test.sh --sanitize thread  the tests labelled "sanitize", built with ThreadSanitizer
#   ./test.sh --sanitize address the same with AddressSanitizer
#   ./test.sh --fuzz SECONDS     builds the fuzz targets with clang and runs each that long
#                                (scripts/fuzz.sh; extra arguments name targets)
# Extra arguments after the options go to ctest (for example -R Serial).
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
sanitize=""
if [ "${1:-}" = "--sanitize" ]; then sanitize=${2:?address or thread}; shift 2; fi
if [ "${1:-}" = "--fuzz" ]; then
  seconds=${2:?seconds per fuzz target}
  shift 2
  "$root/scripts/install-deps.sh" --fuzz
  exec "$root/scripts/fuzz.sh" "$seconds" "$@"
fi

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" $sanitize

export QT_QPA_PLATFORM=offscreen
dir="$root/build${sanitize:+-$sanitize}"
label=()
[ -n "$sanitize" ] && label=(-L sanitize)
cd "$dir"
ctest --output-on-failure -j "$(nproc)" --timeout 300 "${label[@]}" "$@"
