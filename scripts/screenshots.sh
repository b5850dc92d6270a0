#!/usr/bin/env bash
# Takes the screenshots in docs/screenshots from the real program: starts it under a virtual X
# server with a fresh settings file (COM1 mapped to a simulated board), opens the About box from
# the keyboard (Alt+H, A) as a user would, grabs it, then loads the sample image into the
# simulated board with File > Load Flash Image... (Alt+F, L, the path typed into the open dialog),
# grabs the progress window mid-load and the main window after the load, checks that the board's
# flash holds the image, and ends the program with SIGTERM. The option dialogs come from
# scripts/screenshots-dialogs.sh on the same display.
#   scripts/screenshots.sh BIN_FOLDER      (the folder holding the tarnwick program)
# Needs Xvfb, xdotool and ImageMagick's import, and corvix-sim in BIN_FOLDER.
set -euo pipefail

BIN=$(cd "${1:?usage: $0 BIN_FOLDER}" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT="$ROOT/docs/screenshots"
mkdir -p "$OUT"

work=$(mktemp -d)
xvfbPid=""
appPid=""
simPid=""
cleanup() {
  [ -n "$appPid" ] && kill "$appPid" 2>/dev/null || true
  [ -n "$simPid" ] && kill "$simPid" 2>/dev/null || true
  [ -n "$xvfbPid" ] && kill "$xvfbPid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses.
display=99
while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
  display=$((display + 1))
done
export DISPLAY=":$display"
Xvfb "$DISPLAY" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfbPid=$!

source "$ROOT/scripts/wait-for.sh"

waitFor xdotool getdisplaygeometry >/dev/null

# The simulated board the load goes to, paced at the line rate so that the load takes a while.
"$BIN/corvix-sim" board --rfc2217-port 0 --pace --flash-out "$work/flash.bin" >"$work/sim.out" 2>"$work/sim.err" &
simPid=$!
boardUrl=$(waitFor head -n 1 "$work/sim.out")
samples="$ROOT/samples"
cat >"$work/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Vexlon\\ZEP\\Ports]
"COM1"="$boardUrl"

[HKEY_CURRENT_USER\\Software\\Vexlon\\ZEP\\3.02\\File Locations]
"ColdLoader"="$samples/coldload.bin"
"PilotBIOS"="$samples/pilot.bin"
"Flash table"="$samples/Flash.ini"
REG

(cd "$ROOT" && exec env TARNWICK_REGISTRY="$work/registry.reg" QT_QPA_PLATFORM=xcb "$BIN/tarnwick") \
  >"$work/tarnwick.log" 2>&1 &
appPid=$!

mainWindow=$(waitFor xdotool search --onlyvisible --name '^Tarnwick [0-9.]+$')
sleep 1 # first paint

xdotool windowfocus --sync "$mainWindow"
xdotool key alt+h
sleep 0.5
xdotool key a
aboutBox=$(waitFor xdotool search --onlyvisible --name '^About$')
sleep 0.5
import -window "$aboutBox" "$OUT/about-box.png"
xdotool key Escape
sleep 0.5

# A load from File > Load Flash Image..., as a user would start it.
xdotool windowfocus --sync "$mainWindow"
xdotool key alt+f
sleep 0.5
xdotool key l
openDialog=$(waitFor xdotool search --onlyvisible --name '^Open$')
xdotool windowfocus --sync "$openDialog"
sleep 0.5
xdotool type --delay 5 "$samples/demo-image.bin"
xdotool key Return
progress=$(waitFor xdotool search --onlyvisible --name '^Progress \(')
sleep 3 # well into the program's blocks
import -window "$progress" "$OUT/progress-window.png"
for _ in $(seq 600); do
  xdotool search --onlyvisible --name '^Progress \(' >/dev/null 2>&1 || break
  sleep 0.1
done
sleep 0.5
# The main window after the load: what to do, the road it took and the load's result.
import -window "$mainWindow" "$OUT/main-window.png"

# The option dialogs, on the same display.
"$ROOT/scripts/screenshots-dialogs.sh" "$BIN"

kill -TERM "$appPid"
for _ in $(seq 100); do
  kill -0 "$appPid" 2>/dev/null || break
  sleep 0.1
done
wait "$appPid" || true
appPid=""
kill -TERM "$simPid"
wait "$simPid" || true
simPid=""
size=$(stat -c %s "$samples/demo-image.bin")
if cmp -s -n "$size" "$samples/demo-image.bin" "$work/flash.bin"; then
  echo "The simulated board's flash holds the sample image."
else
  echo "screenshots: the simulated board's flash does not hold the sample image" >&2
  exit 1
fi
# A user program through the CorvixSys console, with its own settings, on the same display.
"$ROOT/scripts/screenshots-corvixsys.sh" "$BIN"
echo "Wrote the screenshots in $OUT"
