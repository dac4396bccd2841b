#!/usr/bin/env bash
# Installs what is missing, builds, starts the receiver simulator and PVestra attached to it.
#   ./run.sh           the simulated receiver on USB (the spectrum runs)
#   ./run.sh --serial  the simulated receiver on the serial link
#   ./run.sh --no-sim  PVestra alone (a real receiver, or none)
# The simulator stops when PVestra exits.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
mode=usb
case "${1:-}" in
  --serial) mode=serial ;;
  --no-sim) mode=none ;;
  "") ;;
  *) echo "usage: ./run.sh [--serial|--no-sim]" >&2; exit 2 ;;
esac

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "PVestra needs a desktop and none is set (no DISPLAY); run it under Xvfb with: xvfb-run -a ./run.sh $*" >&2
  exit 1
fi

bin="$root/build/bin"
sim_pid=""
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true; }
trap cleanup EXIT INT TERM

if [ "$mode" != none ] && [ -x "$bin/vestra-sim" ]; then
  runtime=${XDG_RUNTIME_DIR:-/tmp}
  link="$runtime/vestra/ttyVESTRA"
  if [ "$mode" = serial ]; then
    sim_args=(--no-usb --serial "$link")
    "$root/scripts/set-serial-port.sh" "$link"
  else
    sim_args=(--serial "$link")
  fi
  # The simulator reads commands from its standard input; keep it open and quiet.
  tail -f /dev/null | "$bin/vestra-sim" "${sim_args[@]}" --log "$runtime/vestra/sim.log" >/dev/null 2>&1 &
  sim_pid=$!
  sleep 0.5
  echo "Simulated receiver running (log: $runtime/vestra/sim.log)"
fi

"$bin/PVestra"
