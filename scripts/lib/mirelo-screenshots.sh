#!/usr/bin/env bash
# The monitor's pictures: the Mirelo driver in a device host on a private
# system root, an X server of its own with a notification area (the dialog
# needs its tray icon), and mirelo_mon_screenshots. Runs inside a private
# network namespace (scripts/screenshots starts it with unshare), so the
# driver's multicast never leaves this machine.
#
#   scripts/lib/mirelo-screenshots.sh OUTPUT_DIRECTORY
set -euo pipefail
cd "$(dirname "$0")/../.."
output=$1

ip link set lo up
ip route add 224.0.0.0/4 dev lo

export WN_SYSTEM_ROOT="$PWD/build/screenshots-mirelo-root"
rm -rf "$WN_SYSTEM_ROOT"
mkdir -p "$WN_SYSTEM_ROOT"
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

build/tools/reg/reg import ethernet-midi-driver/mirelo.reg >/dev/null
build/tools/reg/reg add 'HKLM\System\CurrentControlSet\Services\Tcpip\Parameters' /v MulticastInterface \
  /d 127.0.0.1 /f >/dev/null
build/tools/reg/reg add 'HKLM\System\CurrentControlSet\Services\Mirelo\Parameters' /v Ports /t REG_DWORD \
  /d 8 /f >/dev/null
build/tools/devhost/devhost --service Mirelo build/ethernet-midi-driver/mirelo.so >/dev/null &
pids+=($!)
for _ in $(seq 100); do ls "$WN_SYSTEM_ROOT"/devices/*topology*.info >/dev/null 2>&1 && break; sleep 0.1; done

Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$WN_SYSTEM_ROOT/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$WN_SYSTEM_ROOT/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$WN_SYSTEM_ROOT/display")" QT_QPA_PLATFORM=xcb
trayer --edge top --align right >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
build/tests/mirelo_mon_screenshots "$output"
