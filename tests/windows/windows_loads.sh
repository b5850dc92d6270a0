#!/usr/bin/env bash
# Two whole loads of the Windows programs under Wine, on 127.0.0.1 only: tarnwick-cli.exe loads
# the sample image into corvix-sim.exe playing a board behind an RFC 2217 port (the serial road),
# then into corvix-sim.exe playing a CorvixLink network device (passphrase challenge, windowed
# writes). Each simulator is ended with an interrupt, as a user would with Ctrl-C, and writes its
# flash, which must hold the image byte for byte. The settings live in the Wine prefix's own
# HKEY_CURRENT_USER. Fails on any error; every wait is bounded.
#   windows_loads.sh TARNWICK_CLI_EXE CORVIX_SIM_EXE SAMPLES_FOLDER
set -euo pipefail
CLI=${1:?usage: windows_loads.sh TARNWICK_CLI_EXE CORVIX_SIM_EXE SAMPLES_FOLDER}
SIM=${2:?}
SAMPLES=${3:?}
WINE=${TARNWICK_WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=-all
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix to use}"
export WINEPREFIX
IMAGE=$SAMPLES/demo-image.bin
WORK=$(mktemp -d)
SIM_PID=""
cleanup() {
  if [ -n "$SIM_PID" ]; then kill -KILL "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# Waits up to 30 s (Wine's first start is slow) for corvix-sim's first line in $1, which must
# start with $2.
simAddress() {
  for _ in $(seq 1 300); do
    [ -s "$1" ] && break
    sleep 0.1
  done
  local line
  line=$(head -n 1 "$1" | tr -d '\r')
  case "$line" in
    "$2"*) echo "$line" ;;
    *) echo "corvix-sim.exe did not start:" >&2; cat "$WORK"/*.err >&2; return 1 ;;
  esac
}

# Ends the simulator with an interrupt and waits (up to 20 s) for it to write its files.
stopSim() {
  kill -INT "$SIM_PID"
  for _ in $(seq 1 200); do
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$SIM_PID" 2>/dev/null; then
    echo "corvix-sim.exe did not end on an interrupt" >&2
    return 1
  fi
  wait "$SIM_PID" 2>/dev/null || true
  SIM_PID=""
}

checkFlash() { # flash file, road
  local size
  size=$(stat -c %s "$IMAGE")
  if cmp -s -n "$size" "$IMAGE" "$1"; then
    echo "ok      $2: the simulated flash holds the image ($size bytes)"
  else
    echo "FAILED  $2: the simulated flash does not hold the image" >&2
    return 1
  fi
}

passed=0
echo "== Serial road: RFC 2217 on 127.0.0.1"
"$WINE" "$SIM" board --rfc2217-port 0 --flash-out "$WORK/serial-flash.bin" \
  >"$WORK/board.out" 2>"$WORK/board.err" &
SIM_PID=$!
URL=$(simAddress "$WORK/board.out" "rfc2217://127.0.0.1:")
"$WINE" "$CLI" load --port "$URL" --baud 115200 "$IMAGE" </dev/null
stopSim
checkFlash "$WORK/serial-flash.bin" "serial load through $URL"
passed=$((passed + 1))

echo "== Network road: a CorvixLink device on 127.0.0.1"
"$WINE" "$SIM" link --port 0 --passphrase wine-test --flash-out "$WORK/link-flash.bin" \
  >"$WORK/link.out" 2>"$WORK/link.err" &
SIM_PID=$!
ADDRESS=$(simAddress "$WORK/link.out" "127.0.0.1:")
TARNWICK_PASSPHRASE=wine-test "$WINE" "$CLI" load --tcp "$ADDRESS" --device corvixlink \
  "$IMAGE" </dev/null
stopSim
checkFlash "$WORK/link-flash.bin" "network device load at $ADDRESS"
passed=$((passed + 1))

echo "windows loads: $passed passed, 0 failed"
