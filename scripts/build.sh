#!/usr/bin/env bash
# Configures (once) and builds the tree incrementally into build/ (or build-<sanitizer>/).
# Usage: scripts/build.sh [address|thread]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitize=${1:-}
dir="$root/build${sanitize:+-$sanitize}"
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        ${sanitize:+-DPVESTRA_SANITIZE=$sanitize} >/dev/null
fi
cmake --build "$dir" -j "$(nproc)"
