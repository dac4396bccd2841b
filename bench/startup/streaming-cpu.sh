#!/usr/bin/env bash
# CPU that PVestra and vestra-sim use while the sample stream runs, over 30 s.
#   bench/startup/streaming-cpu.sh
# Needs Xvfb and xdotool (installed by scripts/install-deps.sh). Uses a private X display,
# configuration folder and USB/IP port.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bin="$root/build/bin"
work=$(mktemp -d)
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/PVestra" && chmod 700 "$XDG_RUNTIME_DIR"
port=$((40000 + RANDOM % 20000))
printf '[Usb]\r\nServer=127.0.0.1:%s\r\n' "$port" > "$XDG_CONFIG_HOME/PVestra/PVestra.ini"
display=:$((500 + RANDOM % 300))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 & xvfb=$!
"$bin/vestra-sim" --usb "127.0.0.1:$port" --no-serial < <(tail -f /dev/null) >/dev/null 2>&1 & sim=$!
pv=""
cleanup() { kill "${pv:-}" "$sim" "$xvfb" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
sleep 1
DISPLAY=$display "$bin/PVestra" >/dev/null 2>&1 & pv=$!
sleep 3
win=$(DISPLAY=$display xdotool search --onlyvisible --name VESTRA | head -1)
DISPLAY=$display xdotool mousemove --window "$win" 387 299 click 1   # СПЕКТР
sleep 2
ticks() { cut -d' ' -f14,15 "/proc/$1/stat" | awk '{print $1+$2}'; }
p0=$(ticks "$pv"); s0=$(ticks "$sim")
sleep 30
p1=$(ticks "$pv"); s1=$(ticks "$sim")
hz=$(getconf CLK_TCK)
awk -v p=$((p1 - p0)) -v s=$((s1 - s0)) -v hz="$hz" 'BEGIN {
  printf "streaming 30 s: PVestra %.2f %% of one core, vestra-sim %.2f %%\n", 100*p/hz/30, 100*s/hz/30 }'
