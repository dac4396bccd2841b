#!/usr/bin/env bash
# Start-up and idle cost of PVestra.
#   bench/startup/measure.sh [runs]
# Prints the median time from process start to the first paint of the main window over
# `runs` starts (default 11), then the CPU an idle PVestra uses over 30 s (no receiver).
# Uses a throw-away configuration folder and the offscreen platform unless DISPLAY is set.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bin="$root/build/bin"
runs=${1:-11}
export XDG_CONFIG_HOME=$(mktemp -d)
trap 'rm -rf "$XDG_CONFIG_HOME"' EXIT
[ -n "${DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen

times=()
for _ in $(seq "$runs"); do times+=("$("$bin/bench_first_paint" 2>/dev/null | tail -1)"); done
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "first paint: median %.1f ms over %d starts (min %.1f, max %.1f)\n", a[int((NR+1)/2)], NR, a[1], a[NR]}'

"$bin/PVestra" >/dev/null 2>&1 &
pid=$!
sleep 3  # past start-up
read -r -a s0 < <(cut -d' ' -f14,15 "/proc/$pid/stat")
sleep 30
read -r -a s1 < <(cut -d' ' -f14,15 "/proc/$pid/stat")
kill "$pid"
wait "$pid" 2>/dev/null || true
ticks=$(( (s1[0] + s1[1]) - (s0[0] + s0[1]) ))
hz=$(getconf CLK_TCK)
awk -v t="$ticks" -v hz="$hz" 'BEGIN {printf "idle CPU: %.2f %% of one core over 30 s (%d ticks of 1/%d s)\n", 100*t/hz/30, t, hz}'
