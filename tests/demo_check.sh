#!/usr/bin/env bash
# Runs the headless demo against the simulated board, as a plain shell
# outside a desktop session would (no DISPLAY, no XDG_RUNTIME_DIR), and checks
# what it leaves behind: a data file of 1000 two-channel rows with a Shift-JIS
# header and CR LF line ends, a PNG screenshot of the window's size, and no
# toolkit warnings from the program or the demo's helper.
# Usage: demo_check.sh SOURCE_DIR BUILD_DIR   (exit 77 = skipped: no Xvfb/xdotool)
set -uo pipefail
src=$1 build=$2
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "Xvfb or xdotool missing: skipped"; exit 77; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
log="$out/demo.log"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_RUNTIME_DIR \
  "$src/scripts/demo.sh" --headless --no-build --build-dir "$build" --out "$out" >"$log" 2>&1
rc=$?
cat "$log"
[ $rc -eq 0 ] || exit 1

csv="$out/vexlo-demo.csv" png="$out/vexlo-demo.png"
fail() { echo "FAIL: $*"; exit 1; }
[ -s "$csv" ] || fail "no data file"
lines=$(tr -cd '\n' <"$csv" | wc -c)
[ "$lines" -eq 1008 ] || fail "expected 1008 lines, got $lines"
[ "$(grep -c $'\r$' "$csv")" -eq 1008 ] || fail "not every line ends in CR LF"
[ "$(head -c 3 "$csv" | od -An -tx1 | tr -d ' ')" != "efbbbf" ] || fail "byte-order mark"
header=$(head -n 7 "$csv" | iconv -f SHIFT_JIS -t UTF-8) || fail "header is not Shift-JIS"
printf '%s\n' "$header" | grep -q '^データ'$'\r''$' || fail "title line"
printf '%s\n' "$header" | grep -q '^データ個数 :  1000'$'\r''$' || fail "count line"
sed -n 8p "$csv" | grep -q '^CH0=Ain0-Ain1 \[mV\],CH1=Ain2-Ain3 \[mV\]'$'\r''$' || fail "column header"
bad=$(sed -n '9,$p' "$csv" | grep -cvE '^-?[0-9]+\.[0-9]{3},-?[0-9]+\.[0-9]{3}'$'\r''$')
[ "$bad" -eq 0 ] || fail "$bad malformed rows"

[ -s "$png" ] || fail "no screenshot"
[ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "not a PNG"
size=$(od -An -tu1 -j16 -N8 "$png" | awk '{print ($1*16777216+$2*65536+$3*256+$4) "x" ($5*16777216+$6*65536+$7*256+$8)}')
[ "$size" = "526x536" ] || fail "screenshot is $size, the window is 526x536"
! grep -qE '^ *(QStandardPaths|qt\.|QXcb|Qt: |Warning)|the program printed' "$log" || fail "toolkit warnings in the demo's output"
echo "demo outputs OK: 1000 rows, screenshot $size, no warnings"
