#!/usr/bin/env bash
# Takes the screenshots in docs/screenshots from the real program: starts it under a virtual X
# server with a fresh settings file, grabs the main window, opens the About box from the keyboard
# (Alt+H, A) as a user would, grabs it, and ends the program with SIGTERM.
#   scripts/screenshots.sh BIN_FOLDER      (the folder holding the tarnwick program)
# Needs Xvfb, xdotool and ImageMagick's import.
set -euo pipefail

BIN=$(cd "${1:?usage: $0 BIN_FOLDER}" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT="$ROOT/docs/screenshots"
mkdir -p "$OUT"

work=$(mktemp -d)
xvfbPid=""
appPid=""
cleanup() {
  [ -n "$appPid" ] && kill "$appPid" 2>/dev/null || true
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

# Polls a command up to 10 s; prints its output once it succeeds.
waitFor() {
  local output
  for _ in $(seq 100); do
    if output=$("$@" 2>/dev/null) && [ -n "$output" ]; then
      echo "$output" | head -n 1
      return 0
    fi
    sleep 0.1
  done
  echo "screenshots: timed out waiting for: $*" >&2
  return 1
}

waitFor xdotool getdisplaygeometry >/dev/null

# The program finds its help next to the folder it starts in.
(cd "$ROOT" && exec env TARNWICK_REGISTRY="$work/registry.reg" QT_QPA_PLATFORM=xcb "$BIN/tarnwick") \
  >"$work/tarnwick.log" 2>&1 &
appPid=$!

mainWindow=$(waitFor xdotool search --onlyvisible --name '^Tarnwick [0-9.]+$')
sleep 1 # first paint
import -window "$mainWindow" "$OUT/main-window.png"

xdotool windowfocus --sync "$mainWindow"
xdotool key alt+h
sleep 0.5
xdotool key a
aboutBox=$(waitFor xdotool search --onlyvisible --name '^About$')
sleep 0.5
import -window "$aboutBox" "$OUT/about-box.png"
xdotool key Escape

kill -TERM "$appPid"
for _ in $(seq 100); do
  kill -0 "$appPid" 2>/dev/null || break
  sleep 0.1
done
wait "$appPid" || true
appPid=""
echo "Wrote $OUT/main-window.png and $OUT/about-box.png"
