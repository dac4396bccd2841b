#!/usr/bin/env bash
# Builds the Debian package of PVestra with CPack from the build in build/.
#   scripts/package.sh                 builds, then packs into build/packages/
#   scripts/package.sh --no-build DIR  packs build/ as it stands into DIR
#   --build-dir DIR                    another build folder than build/
# The last line printed is the path of the package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage() { echo "usage: scripts/package.sh [--no-build] [--build-dir DIR] [OUTPUT_DIR]" >&2; exit 2; }
build=yes
dir=$root/build
out=""
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) build=no ;;
    --build-dir) [ $# -ge 2 ] || usage; dir=$2; shift ;;
    -*) usage ;;
    *) [ -z "$out" ] || usage; out=$1 ;;
  esac
  shift
done
out=${out:-$dir/packages}

if [ "$build" = yes ]; then
  "$root/scripts/install-deps.sh"
  "$root/scripts/build.sh"
fi
config="$dir/CPackConfig.cmake"
[ -f "$config" ] || { echo "no build in $dir: run scripts/build.sh first" >&2; exit 1; }

mkdir -p "$out"
log=$(cpack --config "$config" -B "$out" 2>&1) || { echo "$log" >&2; exit 1; }
package=$(sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' <<<"$log" | tail -1)
rm -rf "$out/_CPack_Packages"
[ -n "$package" ] && [ -f "$package" ] || { echo "$log" >&2; echo "cpack made no package" >&2; exit 1; }
echo "$package"
