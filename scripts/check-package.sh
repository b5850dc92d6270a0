#!/usr/bin/env bash
# Installs the Debian package on this machine, checks that it works as a user would find it, and
# removes it again:
#   - every file in its place, the dependencies covering every library the programs link, the
#     desktop entry valid, the man pages readable;
#   - tarnwick-cli --version and corvix-sim --help;
#   - a real load: the installed tarnwick-cli writes the sample image into the installed
#     corvix-sim over RFC 2217 on 127.0.0.1, from an empty HOME (no settings file), so the cold
#     loader, pilot BIOS and flash table can only come from the package's samples folder;
#   - the installed tarnwick under Xvfb: its main window appears, and it ends on SIGTERM;
#   - after the removal nothing of it is left in /usr/bin or /usr/share/tarnwick.
# Every step fails the script, every wait is bounded, and the package is removed on every exit.
#   scripts/check-package.sh build-package/tarnwick_<version>_amd64.deb
# Needs root (or sudo) for apt-get; CI runs it on a throwaway machine.
set -euo pipefail

DEB=$(realpath "${1:?usage: $0 PACKAGE.deb}")
ROOT=$(cd "$(dirname "$0")/.." && pwd)
PACKAGE=$(dpkg-deb --field "$DEB" Package)
PROGRAMS=(tarnwick tarnwick-cli corvix-sim)
SHARE=/usr/share/tarnwick
# Another apt-get or dpkg may hold the lock for a while: wait up to five minutes for it.
APT=(env DEBIAN_FRONTEND=noninteractive apt-get -q -y -o DPkg::Lock::Timeout=300)
[ "$(id -u)" = 0 ] || APT=(sudo "${APT[@]}")

work=$(mktemp -d)
installed=""
simPid=""
appPid=""
xvfbPid=""
stopProcess() { # pid: ends a process this script started, and reaps it
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  local status=$?
  stopProcess "$appPid"
  stopProcess "$simPid"
  stopProcess "$xvfbPid"
  # A failed install may have left nothing to remove, or a half-installed package.
  if [ -n "$installed" ] && dpkg-query -W -f='${Status}' "$PACKAGE" 2>/dev/null | grep -qv "not-installed"; then
    "${APT[@]}" remove "$PACKAGE" >"$work/remove.log" 2>&1 || {
      echo "FAILED  removing $PACKAGE:"; cat "$work/remove.log"; status=1
    }
  fi
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT

fail() {
  echo "FAILED  $*" >&2
  exit 1
}
ok() { echo "ok      $*"; }

source "$ROOT/scripts/wait-for.sh"

# A program of the same name that the package did not install would be overwritten and then
# deleted by the removal: refuse rather than touch it.
for program in "${PROGRAMS[@]}"; do
  if [ -e "/usr/bin/$program" ] && ! dpkg -S "/usr/bin/$program" 2>/dev/null | grep -q "^$PACKAGE:"; then
    fail "/usr/bin/$program exists and does not belong to $PACKAGE; not installing over it"
  fi
done

echo "== Installing $(basename "$DEB")"
installed=yes
"${APT[@]}" install --no-install-recommends "$DEB" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "apt-get install $DEB"; }
dpkg-query -W -f='${Status}' "$PACKAGE" | grep -q "install ok installed" || fail "$PACKAGE is not installed"
ok "installed $PACKAGE $(dpkg-query -W -f='${Version}' "$PACKAGE")"

for file in /usr/bin/tarnwick /usr/bin/tarnwick-cli /usr/bin/corvix-sim \
            $SHARE/samples/coldload.bin $SHARE/samples/pilot.bin $SHARE/samples/Flash.ini \
            $SHARE/samples/demo-image.bin $SHARE/samples/demo-program.upl \
            $SHARE/help/Mossvale.html \
            /usr/share/applications/tarnwick.desktop \
            /usr/share/icons/hicolor/scalable/apps/tarnwick.svg \
            /usr/share/man/man1/tarnwick.1.gz /usr/share/man/man1/tarnwick-cli.1.gz \
            /usr/share/man/man1/corvix-sim.1.gz \
            /usr/share/doc/tarnwick/copyright /usr/share/doc/tarnwick/changelog.gz; do
  [ -s "$file" ] || fail "$file is missing or empty"
done
for program in "${PROGRAMS[@]}"; do
  [ -x "/usr/bin/$program" ] || fail "/usr/bin/$program is not executable"
done
for sample in coldload.bin pilot.bin Flash.ini demo-image.bin demo-program.upl; do
  cmp -s "$ROOT/samples/$sample" "$SHARE/samples/$sample" || fail "$SHARE/samples/$sample differs from samples/"
done
ok "programs, samples, help, desktop entry, icon and man pages in place"

# Each help page's links to other files (pictures, other pages) resolve in the installed folder.
while IFS= read -r page; do
  while IFS= read -r target; do
    [ -e "$(dirname "$page")/${target%%#*}" ] || fail "$page links to $target, which is not installed"
  done < <(grep -oE '(src|href)="[^"#:]+' "$page" | sed -E 's/^(src|href)="//' | sort -u)
done < <(find "$SHARE/help" -name '*.html')
ok "every link between the installed help pages resolves"

# The package that owns a library, by the path ldd gives or the one its links lead to (with /lib
# a link to /usr/lib, dpkg may know either).
ownerOf() {
  local path
  for path in "$1" "$(realpath "$1")"; do
    dpkg -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1 | grep . && return 0
  done
  return 1
}
# Every library a program links comes from a package the package depends on.
depends=$(dpkg-query -W -f='${Depends}' "$PACKAGE")
# The package names alone, one a line (versions dropped, alternatives each on their own).
dependNames=$(sed -E 's/\([^)]*\)//g; s/[|,]/\n/g' <<<"$depends" | tr -d ' ')
for program in "${PROGRAMS[@]}"; do
  while read -r soname; do
    library=$(ldd "/usr/bin/$program" | awk -v n="$soname" '$1 == n { print $3 }')
    [ -n "$library" ] || fail "$program: $soname is not found"
    owner=$(ownerOf "$library") || fail "$program: no package owns $library"
    grep -qxF "$owner" <<<"$dependNames" || fail "$program links $soname of $owner, which Depends ($depends) leaves out"
  done < <(objdump -p "/usr/bin/$program" | awk '$1 == "NEEDED" { print $2 }')
done
ok "Depends: $depends"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate /usr/share/applications/tarnwick.desktop || fail "the desktop entry is not valid"
  ok "desktop entry valid"
fi
# Each page is titled by its program and renders without a warning from groff.
for program in tarnwick tarnwick-cli corvix-sim; do
  page=/usr/share/man/man1/$program.1.gz
  zcat "$page" | grep -qiE "^\.TH \"?$program\"? \"?1" || fail "$page is not the page of $program"
  if command -v man >/dev/null; then
    MANWIDTH=100 man --warnings -l "$page" >/dev/null 2>"$work/$program.warnings" || fail "man -l $page"
    [ ! -s "$work/$program.warnings" ] || { cat "$work/$program.warnings"; fail "groff warns about $page"; }
  fi
done
ok "man pages of tarnwick, tarnwick-cli and corvix-sim"

# The programs as a user meets them: by name, through PATH, from an empty HOME.
home="$work/home"
mkdir -p "$home"
cd "$work"
# Prefix of a command run as that user; run straight (no function, no subshell), so that the pid
# of a program started in the background is the program's own.
asUser=(env -u TARNWICK_REGISTRY -u XDG_CONFIG_HOME HOME="$home" PATH=/usr/bin:/bin)

version=$("${asUser[@]}" tarnwick-cli --version) || fail "tarnwick-cli --version"
[[ $version == "Tarnwick "[0-9]* ]] || fail "tarnwick-cli --version printed \"$version\""
ok "tarnwick-cli --version: $version"
"${asUser[@]}" corvix-sim --help >"$work/sim-help.txt" 2>&1 || fail "corvix-sim --help"
grep -q "corvix-sim board" "$work/sim-help.txt" || fail "corvix-sim --help printed no usage"
ok "corvix-sim --help"

for setting in ColdLoader PilotBIOS "Flash table"; do
  where=$("${asUser[@]}" tarnwick-cli settings get "$setting") || fail "tarnwick-cli settings get $setting"
  [[ $where == "$SHARE/samples/"* ]] || fail "$setting is \"$where\", not the installed sample"
done
ok "a first start finds the cold loader, pilot BIOS and flash table in $SHARE/samples"

echo "== A load by the installed tarnwick-cli into the installed corvix-sim"
"${asUser[@]}" corvix-sim board --rfc2217-port 0 --flash-out "$work/flash.bin" >"$work/sim.out" 2>"$work/sim.err" &
simPid=$!
url=$(waitFor head -n 1 "$work/sim.out") || { cat "$work/sim.err"; fail "corvix-sim did not start"; }
[[ $url == rfc2217://127.0.0.1:* ]] || fail "corvix-sim offered $url"
image=$SHARE/samples/demo-image.bin
"${asUser[@]}" timeout 120 tarnwick-cli load -q --port "$url" "$image" >"$work/load.out" 2>&1 ||
  { cat "$work/load.out"; fail "tarnwick-cli load $image through $url"; }
stopProcess "$simPid"
simPid=""
cmp -s -n "$(stat -c %s "$image")" "$image" "$work/flash.bin" || fail "the simulated flash does not hold the image"
[ -z "$(ls -A "$home")" ] || fail "tarnwick-cli load wrote into HOME: $(find "$home" -mindepth 1)"
ok "the simulated flash holds the image, byte for byte; HOME untouched"

echo "== The installed desktop program under Xvfb"
display=99
while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
  display=$((display + 1))
done
Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfbPid=$!
export DISPLAY=":$display"
waitFor xdotool getdisplaygeometry >/dev/null || { cat "$work/xvfb.log"; fail "Xvfb did not start"; }
"${asUser[@]}" env DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb tarnwick >"$work/tarnwick.log" 2>&1 &
appPid=$!
window=$(waitFor xdotool search --onlyvisible --pid "$appPid" --name '^Tarnwick [0-9.]+$') ||
  { cat "$work/tarnwick.log"; fail "the main window of tarnwick did not appear"; }
ok "tarnwick's main window \"$(xdotool getwindowname "$window")\" is up"
kill "$appPid"
# Ten seconds at most to save its settings and end.
for _ in $(seq 100); do
  kill -0 "$appPid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$appPid" 2>/dev/null && fail "tarnwick did not end within 10 s of SIGTERM"
appStatus=0
wait "$appPid" || appStatus=$?
appPid=""
[ "$appStatus" = 0 ] || { cat "$work/tarnwick.log"; fail "tarnwick ended with status $appStatus on SIGTERM"; }
# SIGTERM closes it the way File > Exit does, and that saves the settings.
[ -s "$home/.config/tarnwick/registry.reg" ] || fail "tarnwick ended without saving its settings"
ok "tarnwick ended on SIGTERM and saved its settings"
stopProcess "$xvfbPid"
xvfbPid=""

echo "== Removing $PACKAGE"
"${APT[@]}" remove "$PACKAGE" >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "apt-get remove $PACKAGE"; }
installed=""
dpkg-query -W -f='${Status}' "$PACKAGE" 2>/dev/null | grep -q "install ok installed" && fail "$PACKAGE is still installed"
for program in "${PROGRAMS[@]}"; do
  [ ! -e "/usr/bin/$program" ] || fail "/usr/bin/$program is left after the removal"
done
[ ! -e "$SHARE" ] || fail "$SHARE is left after the removal: $(find "$SHARE" | head)"
for file in /usr/share/applications/tarnwick.desktop /usr/share/icons/hicolor/scalable/apps/tarnwick.svg \
            /usr/share/man/man1/tarnwick.1.gz /usr/share/man/man1/tarnwick-cli.1.gz \
            /usr/share/man/man1/corvix-sim.1.gz /usr/share/doc/tarnwick; do
  [ ! -e "$file" ] || fail "$file is left after the removal"
done
ok "removed; nothing of it left in /usr/bin, $SHARE, the menus, icons, man pages or docs"
