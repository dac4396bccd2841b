#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the desktop checks need.
# Does nothing when everything is already there; uses sudo when not run as root.
# With --fuzz, also what the fuzz build needs (clang and libFuzzer).
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config python3
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libfftw3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation
  xvfb xdotool imagemagick
  dpkg-dev desktop-file-utils lintian
  libhamlib-utils libhamlib-dev
)
[ "${1:-}" = "--fuzz" ] && packages+=(clang libfuzzer-14-dev)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
