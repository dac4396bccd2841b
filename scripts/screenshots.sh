#!/usr/bin/env bash
# Photographs every window of PVestra on a private X server, attached to the simulated
# receiver over USB, so their layout can be checked by eye.
#   scripts/screenshots.sh [OUT_DIR]     (default build/screenshots)
# Needs a finished build (scripts/build.sh) and xvfb, xdotool and imagemagick
# (scripts/install-deps.sh installs them). Uses its own configuration folder, so the
# windows show their first-start state and the user's settings are not touched.
set -euo pipefail
export LC_ALL=C.UTF-8
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/bin"
out=${1:-$root/build/screenshots}
mkdir -p "$out"
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Xvfb picks a free display itself and names it once it accepts clients; its first start on
# a machine compiles the keymap and can take a while, so wait for that, not a fixed time.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.out" 2>&1 &
pids+=($!)
for _ in $(seq 600); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start: $(tail -1 "$work/xvfb.out")" >&2; exit 1; }
export DISPLAY=":$(head -1 "$work/display")"

port=$((20000 + RANDOM % 20000))
"$bin/vestra-sim" --no-serial --usb "127.0.0.1:$port" < <(tail -f /dev/null) >"$work/sim.out" 2>&1 &
pids+=($!)
mkdir -p "$work/config/PVestra"
printf '[Usb]\nServer=127.0.0.1:%s\n' "$port" >"$work/config/PVestra/PVestra.ini"
XDG_CONFIG_HOME="$work/config" "$bin/PVestra" >"$work/pvestra.out" 2>&1 &
pids+=($!)

main=""
for _ in $(seq 100); do
  main=$(xdotool search --onlyvisible --name 'VESTRA' 2>/dev/null | head -1) && [ -n "$main" ] && break
  sleep 0.1
done
[ -n "$main" ] || { echo "PVestra did not show its main window:"; cat "$work/pvestra.out"; exit 1; } >&2

# Clicks a spot of the main window's client area.
click() { xdotool mousemove --window "$main" "$1" "$2" click 1; sleep 0.5; }
# Saves the topmost visible window whose caption matches $1 as $2.png.
shoot() {
  local id
  id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1)
  if [ -z "$id" ]; then echo "no window named '$1'" >&2; return; fi
  xdotool windowraise "$id"; sleep 0.3
  import -window "$id" "$out/$2.png"
  echo "$out/$2.png"
}
# Types a control character into the main window (the service windows have no button).
key() { xdotool windowfocus --sync "$main" key "$1"; sleep 0.5; }

click 380 299   # СПЕКТР: the sample stream on, so the spectrum shows the simulated band
sleep 2
shoot 'РПУ' main
click 594 299; sleep 3; shoot 'РПУ' main-averaged; click 594 299   # Уср: averaging on, then off
click 594 340; shoot 'Память' channels; click 594 340
click 594 371; shoot 'Доп. параметры' parameters; click 594 371
click 594 402; shoot 'Настройки' settings; click 594 402
click 243 402; shoot 'панорама' panorama; click 243 402
click 276 402; shoot 'Сканирование' frequency-scan; click 276 402
click 308 402; shoot 'Режекторный' notch; click 308 402
click 594 273; shoot 'Классы' classes
# The class window's decoder button opens the message window.
xdotool mousemove --window "$(xdotool search --onlyvisible --name 'Классы' | tail -1)" 208 34 click 1; sleep 0.5
shoot 'Прием сообщений' decoder
key ctrl+i; shoot 'IQ-компоненты' iq
key ctrl+d; shoot '^Debug$' debug
key ctrl+l; shoot 'Загрузка TMS' loader
key ctrl+y; shoot 'Отладка Vestra' service
key ctrl+w; sleep 5; shoot 'Водопад' waterfall   # about fifty blocks of history
import -window root "$out/screen.png"
echo "$out/screen.png"
