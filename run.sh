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
former_port=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  # The simulator's terminal was only borrowed: give the user's serial setting back.
  if [ -n "$former_port" ]; then "$root/scripts/set-serial-port.sh" "$former_port" >/dev/null || true; fi
}
trap cleanup EXIT INT TERM

if [ "$mode" != none ] && [ -x "$bin/vestra-sim" ]; then
  runtime=${XDG_RUNTIME_DIR:-/tmp}
  mkdir -p "$runtime/vestra"
  link="$runtime/vestra/ttyVESTRA"
  if [ "$mode" = serial ]; then
    sim_args=(--no-usb --serial "$link")
    former_port=$("$root/scripts/set-serial-port.sh" "$link")
    former_port=${former_port:-/dev/ttyS0}
  else
    sim_args=(--serial "$link")
  fi
  # The simulator reads commands from its standard input; keep it open and quiet.
  "$bin/vestra-sim" "${sim_args[@]}" --log "$runtime/vestra/sim.log" < <(tail -f /dev/null) \
    >"$runtime/vestra/sim.out" 2>&1 &
  sim_pid=$!
  sleep 0.5
  if kill -0 "$sim_pid" 2>/dev/null; then
    echo "Simulated receiver running (frames: $runtime/vestra/sim.log)"
  else
    echo "The simulator did not start: $(tail -1 "$runtime/vestra/sim.out")" >&2
    sim_pid=""
  fi
fi

"$bin/PVestra"
