#!/usr/bin/env bash
# torsel.exe started without a file, in a real window under Xvfb: the
# file-open dialog takes a typed path, the conversion runs and the summary
# box appears; then the cancel path. Screenshots go to SHOTS.
#   dialog_test.sh TORSEL_EXE SAMPLE.vmd SHOTS
set -euo pipefail
exe=$1 shots=$3 work=$(mktemp -d)
mkdir -p "$shots"
cp "$2" "$work/dance.vmd"
export DISPLAY=":$((100 + RANDOM % 400))"
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!  # and a Wine of its own on this display: one started without a display shows no windows
WINEPREFIX="$(cd "$shots/.." && pwd)/wineprefix-dialog" && export WINEPREFIX
trap 'wineserver -k 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
wineboot -i >/dev/null 2>&1 </dev/null
cd "$work"
fail() { echo "FAIL: $*"; tr -d '\r' <out.txt || true; exit 1; }
window() { timeout 60 xdotool search --sync --onlyvisible --name "$1" | head -n 1; }
printed() { tr -d '\r' <out.txt | grep -q "$1" || fail "no '$1'"; }

# 1. A path typed into the dialog is converted, and the summary box shows.
LC_ALL=C wine "$exe" >out.txt 2>/dev/null &
app=$!
dialog=$(window "Open MMD Motion File") || fail "no file-open dialog"
sleep 1
import -window root "$shots/dialog.png"
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool type --delay 30 'Z:'"$(echo "$work" | tr / '\\')"'\dance.vmd'
xdotool key Return
box=$(window "VMD motion converter") || fail "no summary box"
sleep 1
import -window root "$shots/summary-box.png"
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return
wait "$app" || fail "torsel exited with $?"
printed '^Conversion OK. $' && printed '^Initext:  $'
[ -s dance-cnv.vmd ] || fail "no output file"

# 2. Cancelled: the failure lines with 0000, then the usage text.
LC_ALL=C wine "$exe" >out.txt 2>/dev/null &
app=$!
dialog=$(window "Open MMD Motion File") || fail "no file-open dialog"
sleep 1
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool key Escape
wait "$app" || fail "torsel exited with $?"
printed '^Failed Opening File-Open Dialog Box: 0000 (stat=0000).$' && printed '^Usage $'
echo "1 passed, 0 failed: dialog, summary box and cancel (screenshots in $shots)"
