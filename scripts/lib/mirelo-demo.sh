#!/usr/bin/env bash
# The Ethernet MIDI part of the demonstration: two emulated computers, each a
# device host with the Mirelo driver on a system root of its own, exchange
# MIDI through the multicast group. Runs inside a private network namespace
# (scripts/demo starts it with unshare), so nothing it sends leaves this
# machine: computer A sends from 127.0.0.1, computer B from 127.0.0.2.
set -euo pipefail
cd "$(dirname "$0")/../.."

ip link set lo up
ip route add 224.0.0.0/4 dev lo
ip addr add 127.0.0.2/8 dev lo

demo_root=${1:-$PWD/build/demo-root}
reg=build/tools/reg/reg
devhost=build/tools/devhost/devhost
midiport=build/tools/midiport/midiport
module=build/ethernet-midi-driver/mirelo.so
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

step() { echo; echo "\$ $*"; "$@"; }

start_computer() {  # NAME ADDRESS
  local root="$demo_root/mirelo-$1"
  rm -rf "$root"
  mkdir -p "$root"
  WN_SYSTEM_ROOT="$root" "$reg" import ethernet-midi-driver/mirelo.reg >/dev/null
  WN_SYSTEM_ROOT="$root" "$reg" add 'HKLM\System\CurrentControlSet\Services\Tcpip\Parameters' \
    /v MulticastInterface /d "$2" /f >/dev/null
  WN_SYSTEM_ROOT="$root" "$reg" add 'HKLM\System\CurrentControlSet\Services\Mirelo\Parameters' \
    /v Ports /t REG_DWORD /d 4 /f >/dev/null
  local output
  output=$(WN_SYSTEM_ROOT="$root" "$devhost" --daemon --service Mirelo "$module")
  pids+=("$(echo "$output" | sed -n 's/.*daemon running, pid \([0-9]*\).*/\1/p')")
  echo "Computer $1 ($2): the Mirelo driver runs in device host ${pids[-1]}, system root $root"
}

start_computer A 127.0.0.1
start_computer B 127.0.0.2
A="$demo_root/mirelo-A"
B="$demo_root/mirelo-B"

echo
echo "Computer A's ports (every port starts muted, loop-back on):"
step env WN_SYSTEM_ROOT="$A" "$midiport" list
step env WN_SYSTEM_ROOT="$A" "$midiport" unmute all
step env WN_SYSTEM_ROOT="$B" "$midiport" unmute all

echo
echo "Computer B listens on port 3 while computer A plays a chord on it:"
WN_SYSTEM_ROOT="$B" "$midiport" receive 3 --count 2 --timeout 3000 > "$demo_root/mirelo-received.txt" &
receiver=$!
sleep 0.5
step env WN_SYSTEM_ROOT="$A" "$midiport" send 3 90 3C 64 90 40 64 90 43 64
sleep 0.2
step env WN_SYSTEM_ROOT="$A" "$midiport" send 3 80 3C 00 80 40 00 80 43 00
wait "$receiver" || true
echo; echo "What computer B received (seconds since it started listening, then the bytes):"
cat "$demo_root/mirelo-received.txt"

echo
echo "With loop-back off, computer A no longer hears itself; B still hears A:"
step env WN_SYSTEM_ROOT="$A" "$midiport" loopback off
step env WN_SYSTEM_ROOT="$A" "$midiport" status
WN_SYSTEM_ROOT="$A" "$midiport" receive 2 --count 1 --timeout 1500 > "$demo_root/mirelo-heard-A.txt" &
heard_a=$!
WN_SYSTEM_ROOT="$B" "$midiport" receive 2 --count 1 --timeout 1500 > "$demo_root/mirelo-heard-B.txt" &
heard_b=$!
sleep 0.5
step env WN_SYSTEM_ROOT="$A" "$midiport" send 2 B0 07 64
wait "$heard_a" "$heard_b" || true
echo; echo "Computer A heard on port 2:"; cat "$demo_root/mirelo-heard-A.txt"
[ -s "$demo_root/mirelo-heard-A.txt" ] || echo "    (nothing)"
echo "Computer B heard on port 2:"; cat "$demo_root/mirelo-heard-B.txt"
echo
echo "The monitor MireloMon on computer A (on an X server of its own with a notification area):"
mon=build/ethernet-midi-monitor/MireloMon
if command -v Xvfb >/dev/null && command -v trayer >/dev/null; then
  Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp > "$demo_root/mirelo-display.txt" 2>/dev/null &
  pids+=("$!")
  for _ in $(seq 50); do [ -s "$demo_root/mirelo-display.txt" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$demo_root/mirelo-display.txt")"
  trayer --edge top --align right >/dev/null 2>&1 &
  pids+=("$!")
  sleep 0.5
  WN_SYSTEM_ROOT="$A" "$reg" add 'HKCU\Software\Ternok\MireloMon\Ports' /v LowB /t REG_DWORD /d 5 /f >/dev/null
  echo "The user's saved mute mask is 5 (ports 1 and 3), loop-back as the profile leaves it (on); the monitor"
  echo "starts hidden in the tray and pushes both into the driver:"
  WN_SYSTEM_ROOT="$A" QT_QPA_PLATFORM=xcb "$mon" &
  pids+=("$!")
  sleep 1.5
  step env WN_SYSTEM_ROOT="$A" "$midiport" status
  echo "A second start finds the first, brings its dialog to the front and ends:"
  step env WN_SYSTEM_ROOT="$A" QT_QPA_PLATFORM=xcb "$mon"
else
  echo "    (skipped: Xvfb and trayer are needed for its tray icon)"
fi

echo
echo "Ethernet MIDI demonstration finished; both device hosts stop."
