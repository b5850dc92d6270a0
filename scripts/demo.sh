#!/usr/bin/env bash
# The main job on the simulated board: corvix-sim plays a board behind an RFC 2217 port on
# 127.0.0.1, moving bytes at the real baud rates; a temporary registry maps COM1 to it; and
# tarnwick-cli loads the sample image exactly as it would load a real board on a serial port.
# Afterwards the simulated flash is compared with the image.
set -euo pipefail
BIN=${1:?usage: demo.sh BIN_FOLDER}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SAMPLES=$ROOT/samples
IMAGE=${DEMO_IMAGE:-$SAMPLES/demo-image.bin}
WORK=$(mktemp -d)
SIM_PID=""
cleanup() {
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# corvix-sim prints the address to use as its first line: waits up to 5 s for it in $1 and checks
# that it starts with $3; otherwise shows what corvix-sim said on $2 and fails.
simAddress() {
  for _ in $(seq 1 100); do
    [ -s "$1" ] && break
    sleep 0.05
  done
  local line
  line=$(head -n 1 "$1")
  case "$line" in
    "$3"*) echo "$line" ;;
    *) echo "corvix-sim did not start:" >&2; cat "$2" >&2; return 1 ;;
  esac
}

echo "== Starting the simulated board (corvix-sim, paced at the line rate)"
"$BIN/corvix-sim" board --rfc2217-port 0 --pace --transcript "$WORK/transcript.json" \
  --flash-out "$WORK/flash.bin" >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!
URL=$(simAddress "$WORK/sim.out" "$WORK/sim.err" "rfc2217://127.0.0.1:") || exit 1
echo "   board on $URL"

export TARNWICK_REGISTRY=$WORK/registry.reg
cat >"$TARNWICK_REGISTRY" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Vexlon\\ZEP\\Ports]
"COM1"="$URL"
REG
"$BIN/tarnwick-cli" settings set ColdLoader "$SAMPLES/coldload.bin"
"$BIN/tarnwick-cli" settings set PilotBIOS "$SAMPLES/pilot.bin"
"$BIN/tarnwick-cli" settings set "Flash table" "$SAMPLES/Flash.ini"
"$BIN/tarnwick-cli" settings set "Com Port" 1

echo "== Loading $(basename "$IMAGE") ($(stat -c %s "$IMAGE") bytes) into the board on COM1"
START=$(date +%s.%N)
status=0
"$BIN/tarnwick-cli" load "$IMAGE" || status=$?
END=$(date +%s.%N)
if [ "$status" != 0 ]; then
  echo "tarnwick-cli load failed with status $status"
  exit "$status"
fi

kill "$SIM_PID"
wait "$SIM_PID" 2>/dev/null || true
SIM_PID=""
SIZE=$(stat -c %s "$IMAGE")
if cmp -s -n "$SIZE" "$IMAGE" "$WORK/flash.bin"; then
  echo "== The simulated flash at 0x80000 holds the image, byte for byte"
else
  echo "== The simulated flash does NOT hold the image"
  exit 1
fi
awk -v s="$START" -v e="$END" -v n="$SIZE" 'BEGIN {
  t = e - s; printf "   elapsed %.2f s, %.1f KiB/s for the image\n", t, n / 1024 / t }'

echo
echo "== Second part: a user program through the CorvixSys console (corvix-sim console)"
PROGRAM=${DEMO_PROGRAM:-$SAMPLES/demo-program.upl}
"$BIN/corvix-sim" console --port 0 --transcript "$WORK/console.json" \
  --memory-out "$WORK/memory.upl" >"$WORK/console.out" 2>"$WORK/console.err" &
SIM_PID=$!
CONSOLE=$(simAddress "$WORK/console.out" "$WORK/console.err" "127.0.0.1:") || exit 1
echo "   console on $CONSOLE"
"$BIN/tarnwick-cli" settings set "Load through CorvixSys" 1
"$BIN/tarnwick-cli" settings set UseTCP 1
"$BIN/tarnwick-cli" settings set UseCorvixLink 0
"$BIN/tarnwick-cli" settings set UseCorvixSys 1
"$BIN/tarnwick-cli" settings set "CorvixSys Address" 127.0.0.1
"$BIN/tarnwick-cli" settings set "CorvixSys TCP Port" "${CONSOLE##*:}"
"$BIN/tarnwick-cli" settings set "CorvixSys UserName" corvix
"$BIN/tarnwick-cli" settings set "CorvixSys Password" corvix

echo "== Loading $(basename "$PROGRAM") ($(stat -c %s "$PROGRAM") bytes) through the console"
status=0
"$BIN/tarnwick-cli" load "$PROGRAM" || status=$?
if [ "$status" != 0 ]; then
  echo "tarnwick-cli load failed with status $status"
  exit "$status"
fi
kill "$SIM_PID"
wait "$SIM_PID" 2>/dev/null || true
SIM_PID=""
# The console writes what it stored as records (address, length with header, data); each record
# of the program must be there, its data padded with zeros to whole 128-byte blocks.
"$ROOT/scripts/check-console-memory.py" "$PROGRAM" "$WORK/memory.upl" "$WORK/console.json"
