#!/usr/bin/env bash
# Takes docs/screenshots/corvixsys-open-dialog.png and corvixsys-after-load.png: the desktop
# program with "Load through CorvixSys" set loads the sample user program into corvix-sim's
# console through File > Load Flash Image... (the open dialog then offers *.upl files), and the
# console's memory is checked against the program's records afterwards.
#   scripts/screenshots-corvixsys.sh BIN_FOLDER   (the folder holding tarnwick and corvix-sim)
# Uses the X server in DISPLAY (scripts/screenshots.sh starts one).
set -euo pipefail

BIN=$(cd "${1:?usage: $0 BIN_FOLDER}" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT="$ROOT/docs/screenshots"
PROGRAM="$ROOT/samples/demo-program.upl"
: "${DISPLAY:?screenshots-corvixsys.sh needs an X server in DISPLAY}"

work=$(mktemp -d)
appPid=""
simPid=""
cleanup() {
  [ -n "$appPid" ] && kill "$appPid" 2>/dev/null || true
  [ -n "$simPid" ] && kill "$simPid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

source "$ROOT/scripts/wait-for.sh"

"$BIN/corvix-sim" console --port 0 --memory-out "$work/memory.upl" --transcript "$work/console.json" \
  >"$work/sim.out" 2>"$work/sim.err" &
simPid=$!
console=$(waitFor head -n 1 "$work/sim.out")
export TARNWICK_REGISTRY="$work/registry.reg"
"$BIN/tarnwick-cli" settings set "Load through CorvixSys" 1
"$BIN/tarnwick-cli" settings set UseTCP 1
"$BIN/tarnwick-cli" settings set UseCorvixLink 0
"$BIN/tarnwick-cli" settings set UseCorvixSys 1
"$BIN/tarnwick-cli" settings set "CorvixSys Address" 127.0.0.1
"$BIN/tarnwick-cli" settings set "CorvixSys TCP Port" "${console##*:}"
"$BIN/tarnwick-cli" settings set "CorvixSys UserName" corvix
"$BIN/tarnwick-cli" settings set "CorvixSys Password" corvix

(cd "$ROOT" && exec env QT_QPA_PLATFORM=xcb "$BIN/tarnwick") >"$work/tarnwick.log" 2>&1 &
appPid=$!
mainWindow=$(waitFor xdotool search --onlyvisible --name '^Tarnwick [0-9.]+$')
sleep 1
xdotool windowfocus --sync "$mainWindow"
xdotool key alt+f
sleep 0.5
xdotool key l
openDialog=$(waitFor xdotool search --onlyvisible --name '^Open$')
sleep 0.5
import -window "$openDialog" "$OUT/corvixsys-open-dialog.png"
xdotool windowfocus --sync "$openDialog"
xdotool type --delay 5 "$PROGRAM"
xdotool key Return
# The load is short; wait until the console has seen the program started.
for _ in $(seq 100); do
  grep -q '"app-go"' "$work/console.json" 2>/dev/null && break
  xdotool search --onlyvisible --name '^Progress \(' >/dev/null 2>&1 || sleep 0.1
  kill -0 "$simPid" 2>/dev/null || break
  sleep 0.1
done
sleep 1
import -window "$mainWindow" "$OUT/corvixsys-after-load.png"
kill -TERM "$appPid"
wait "$appPid" || true
appPid=""
kill -TERM "$simPid"
wait "$simPid" || true
simPid=""
"$ROOT/scripts/check-console-memory.py" "$PROGRAM" "$work/memory.upl" "$work/console.json"
