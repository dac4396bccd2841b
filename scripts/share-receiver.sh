#!/usr/bin/env bash
# Shares a receiver plugged into this machine over USB/IP, with Debian's usbip tools, so that
# PVestra on this machine or another one can import it.
#
#   share-receiver.sh [--device VVVV:PPPP] [--busid BUSID] [--port N]
#       loads usbip-host, starts usbipd (on port N, default 3240) unless it runs, binds the
#       receiver found by its vendor and product ids (or the given bus id)
#   share-receiver.sh --undo [--device VVVV:PPPP] [--busid BUSID]
#       unbinds it, and stops usbipd and unloads usbip-host when this script started them
#   share-receiver.sh --find [--device VVVV:PPPP] [--list FILE]
#       prints the receiver's bus id only; --list reads saved `usbip list -p -l` or
#       `usbip list -l` output instead of asking usbip
#
# The default ids are PVestra's default, [Usb] Device. Sharing needs root.
set -euo pipefail

usage() {
  echo "usage: share-receiver.sh [--undo|--find] [--device VVVV:PPPP] [--busid BUSID] [--port N] [--list FILE]" >&2
  exit 2
}
fail() {
  echo "share-receiver.sh: $*" >&2
  exit 1
}

action=share
device=7e57:5652
busid=""
port=3240
list=""
while [ $# -gt 0 ]; do
  case "$1" in
    --undo) action=undo ;;
    --find) action=find ;;
    --device|--busid|--port|--list)
      [ $# -ge 2 ] || fail "$1 needs a value"
      case "$1" in
        --device) device=$2 ;;
        --busid) busid=$2 ;;
        --port) port=$2 ;;
        --list) list=$2 ;;
      esac
      shift ;;
    -h|--help) usage ;;
    *) echo "share-receiver.sh: unknown argument '$1'" >&2; usage ;;
  esac
  shift
done

[[ $device =~ ^[0-9A-Fa-f]{4}:[0-9A-Fa-f]{4}$ ]] || fail "--device wants VVVV:PPPP in hexadecimal, not '$device'"
device=${device,,}
[[ $port =~ ^[0-9]+$ ]] && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] || fail "--port wants 1-65535, not '$port'"
[ -z "$busid" ] || [[ $busid =~ ^[0-9]+-[0-9.]+$ ]] || fail "--busid wants a USB bus id such as 1-1.2, not '$busid'"
[ -z "$list" ] || [ "$action" = find ] || fail "--list goes with --find"

# The bus ids of local devices with the wanted ids, one a line, from `usbip list -l` in its
# parsable form ("busid=1-1.2#usbid=7e57:5652#") or its readable one (" - busid 1-1.2 (7e57:5652)").
bus_ids_of() {
  sed -n -E \
    -e "s/^busid=([0-9.-]+)#usbid=${device}#.*$/\1/Ip" \
    -e "s/^ *- busid ([0-9.-]+) \(${device}\)$/\1/Ip"
}

device_list() {
  if [ -n "$list" ]; then
    [ -r "$list" ] || fail "cannot read $list"
    cat "$list"
  else
    command -v usbip >/dev/null || fail "usbip is not installed (Debian: apt install usbip)"
    usbip list -p -l
  fi
}

find_bus_id() {
  if [ -n "$busid" ]; then echo "$busid"; return; fi
  local found
  found=$(device_list | bus_ids_of)
  [ -n "$found" ] || fail "no device $device is plugged into this machine"
  [ "$(wc -l <<<"$found")" -eq 1 ] || fail "several devices $device: $(tr '\n' ' ' <<<"$found")- choose one with --busid"
  echo "$found"
}

state=/run/pvestra-share-receiver

share() {
  local id
  id=$(find_bus_id)
  command -v usbipd >/dev/null || fail "usbipd is not installed (Debian: apt install usbip)"
  mkdir -p "$state"
  if [ ! -d /sys/bus/usb/drivers/usbip-host ]; then
    modprobe usbip-host || fail "cannot load the usbip-host kernel module"
    touch "$state/module"
  fi
  if [ ! -f "$state/usbipd.pid" ] || ! kill -0 "$(cat "$state/usbipd.pid")" 2>/dev/null; then
    if ss -ltn "sport = :$port" 2>/dev/null | grep -q LISTEN; then
      echo "port $port is already served (a usbipd of the system?); using it"
    else
      usbipd -D --tcp-port "$port" --pid="$state/usbipd.pid" || fail "usbipd did not start on port $port"
    fi
  fi
  if [ -e "/sys/bus/usb/drivers/usbip-host/$id" ]; then
    echo "$id is already shared"
  else
    usbip bind -b "$id" || fail "cannot bind $id"
  fi
  echo "Shared $device at bus id $id on port $port. In PVestra.ini of the machine running PVestra:"
  echo "  [Usb]"
  echo "  Server=<this machine's address>:$port"
  echo "  Device=$device"
  echo "  BusId=$id"
}

undo() {
  local id
  id=$(find_bus_id)
  if [ -e "/sys/bus/usb/drivers/usbip-host/$id" ]; then
    usbip unbind -b "$id" || fail "cannot unbind $id"
  fi
  if [ -f "$state/usbipd.pid" ]; then
    kill "$(cat "$state/usbipd.pid")" 2>/dev/null || true
    rm -f "$state/usbipd.pid"
  fi
  if [ -f "$state/module" ]; then
    modprobe -r usbip-host || true
    rm -f "$state/module"
  fi
  rmdir "$state" 2>/dev/null || true
  echo "$id is given back to this machine"
}

case "$action" in
  find) find_bus_id ;;
  share|undo)
    [ "$(id -u)" -eq 0 ] || fail "sharing a device needs root (sudo $0 ...)"
    "$action" ;;
esac
