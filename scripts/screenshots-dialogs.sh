#!/usr/bin/env bash
# Takes docs/screenshots/communications.png, file-locations.png and passphrase.png: runs the
# screenshot case of each dialog's form test, which grabs the dialog as it is shown when
# TARNWICK_SCREENSHOT_DIR names a folder.
#   scripts/screenshots-dialogs.sh BIN_FOLDER   (the folder holding the tst_frm* programs)
# Uses the X server in DISPLAY; without one, starts Xvfb for the run.
set -euo pipefail

BIN=$(cd "${1:?usage: $0 BIN_FOLDER}" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OUT="$ROOT/docs/screenshots"
mkdir -p "$OUT"

work=$(mktemp -d)
xvfbPid=""
cleanup() {
  [ -n "$xvfbPid" ] && kill "$xvfbPid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  display=99
  while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
    display=$((display + 1))
  done
  export DISPLAY=":$display"
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfbPid=$!
  for _ in $(seq 100); do # at most 10 s for the server to come up
    [ -e "/tmp/.X11-unix/X${display}" ] && break
    sleep 0.1
  done
fi

for test in tst_frmzepcommunications tst_frmzepfilelocations tst_frmtcpdlpassword; do
  # A private settings file: the dialogs never see (or write) the user's own. In a sanitizer
  # build, the X and D-Bus client libraries keep memory until exit that would count as leaks.
  env TARNWICK_REGISTRY="$work/registry.reg" TARNWICK_SCREENSHOT_DIR="$OUT" QT_QPA_PLATFORM=xcb \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    timeout 60 "$BIN/$test" screenshot >"$work/$test.log" 2>&1 || {
    cat "$work/$test.log" >&2
    echo "screenshots: $test failed" >&2
    exit 1
  }
done
echo "Wrote $OUT/communications.png, $OUT/file-locations.png and $OUT/passphrase.png"
