#!/usr/bin/env bash
# Peak resident memory and CPU time of the real tarnwick-cli loading 512 KiB on each road, against
# corvix-sim on 127.0.0.1, measured by /usr/bin/time -v. Prints RESULT lines for the table of
# `./run bench` (scripts/bench-results.py); fails when a load fails or a board does not hold what
# was loaded.
#   bench-cli-memory.sh BIN_FOLDER
set -euo pipefail
BIN=${1:?usage: bench-cli-memory.sh BIN_FOLDER}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
RESULTS=$ROOT/scripts/bench-results.py
SIZE=$((512 * 1024))
WORK=$(mktemp -d)
SIM_PID=""

# Ends the corvix-sim this script started, by its pid: SIGTERM (it writes its files on the way
# out), up to 5 s, then SIGKILL.
stopSim() {
  [ -n "$SIM_PID" ] || return 0
  kill "$SIM_PID" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$SIM_PID" 2>/dev/null || true
  wait "$SIM_PID" 2>/dev/null || true
  SIM_PID=""
}
# KEEP_WORK=1 keeps the folder (image, reports, corvix-sim's output) to look into a failure.
trap 'stopSim; [ -n "${KEEP_WORK:-}" ] || rm -rf "$WORK"' EXIT

# Starts corvix-sim with the arguments on a free port (it picks one) and sets ADDRESS to the
# address it reports, waiting up to 5 s for it. Not called in $(...): SIM_PID must stay here.
startSim() {
  "$BIN/corvix-sim" "$@" >"$WORK/sim.out" 2>"$WORK/sim.err" &
  SIM_PID=$!
  for _ in $(seq 50); do
    [ -s "$WORK/sim.out" ] && break
    sleep 0.1
  done
  ADDRESS=$(head -n 1 "$WORK/sim.out")
  if [ -z "$ADDRESS" ]; then
    echo "corvix-sim $1 did not start:" >&2
    cat "$WORK/sim.err" >&2
    return 1
  fi
}

# tarnwick-cli load under time -v, at most 120 s; the report goes to $WORK/time.txt.
timedLoad() {
  local status=0
  timeout 120 /usr/bin/time -v -o "$WORK/time.txt" "$BIN/tarnwick-cli" load -q "$@" \
    >"$WORK/cli.out" 2>"$WORK/cli.err" || status=$?
  if [ "$status" != 0 ]; then
    echo "tarnwick-cli load $* failed with status $status:" >&2
    cat "$WORK/cli.err" >&2
    return 1
  fi
}

report() { # name, road
  python3 "$RESULTS" time-v "$1" "$(awk -v n="$SIZE" 'BEGIN { print n / 1048576 }')" \
    "tarnwick-cli load 512 KiB, $2" "$WORK/time.txt"
}

# A private registry: the loaders and flash table of the tree, the console's login.
export TARNWICK_REGISTRY=$WORK/registry.reg
export TARNWICK_PASSPHRASE=""
cli() { "$BIN/tarnwick-cli" "$@" >/dev/null; }
cli settings set ColdLoader "$ROOT/samples/coldload.bin"
cli settings set PilotBIOS "$ROOT/samples/pilot.bin"
cli settings set "Flash table" "$ROOT/samples/Flash.ini"
cli settings set "CorvixSys UserName" corvix
cli settings set "CorvixSys Password" corvix

head -c "$SIZE" /dev/urandom >"$WORK/image.bin"
# A user program of the same size: eight records of 64 KiB after the header (zero, total record
# bytes, zero, MD5 of the data).
python3 - "$WORK/image.bin" "$WORK/program.upl" <<'PY'
import hashlib, struct, sys
data = open(sys.argv[1], "rb").read()
record = 64 * 1024
body = b"".join(struct.pack("<II", 0x100000 + at, record + 8) + data[at:at + record]
                for at in range(0, len(data), record))
with open(sys.argv[2], "wb") as out:
    out.write(struct.pack("<III", 0, len(body), 0) + hashlib.md5(data).digest() + body)
PY

# Serial: a board behind RFC 2217, paced at the line rate, at 460800 baud.
startSim board --rfc2217-port 0 --pace --flash-out "$WORK/flash.bin"
timedLoad --port "$ADDRESS" --baud 460800 "$WORK/image.bin"
stopSim
cmp -s -n "$SIZE" "$WORK/image.bin" "$WORK/flash.bin" || { echo "serial: flash differs" >&2; exit 1; }
report cli.serial "serial (paced RFC 2217, 460800)"

# Network device: windowed writes over TCP.
startSim link --port 0 --flash-out "$WORK/flash.bin"
timedLoad --tcp "$ADDRESS" --device corvixlink "$WORK/image.bin"
stopSim
cmp -s -n "$SIZE" "$WORK/image.bin" "$WORK/flash.bin" || { echo "network: flash differs" >&2; exit 1; }
report cli.link "network device"

# Console: a user program through CorvixSys on TCP.
startSim console --port 0 --transcript "$WORK/console.json" --memory-out "$WORK/memory.upl"
timedLoad --tcp "$ADDRESS" --device corvixsys --corvixsys "$WORK/program.upl"
stopSim
python3 "$ROOT/scripts/check-console-memory.py" "$WORK/program.upl" "$WORK/memory.upl" \
  "$WORK/console.json" >/dev/null
report cli.console "console user program"
