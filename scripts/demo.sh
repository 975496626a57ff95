#!/usr/bin/env bash
# Builds the programs and the board simulator, serves a simulated board on a
# pseudo-terminal linked as COM4, and opens the program on it.
#
#   scripts/demo.sh [--program Vexlo_Demo|Vexlo|Tamrix] [--model tamrix|selvor]
#                   [--out DIR] [--headless] [--no-build] [--build-dir DIR]
#
# With a display the window opens and you work it yourself: choose Tamrix,
# click "接続確認", measure, save. Without one (no DISPLAY / WAYLAND_DISPLAY,
# or --headless) the program runs under Xvfb and this script works the window
# with real mouse clicks and keys: connect, measure 1000 samples of both
# channels in millivolts, save the block; the data file and a screenshot land
# in the output folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

program=Vexlo_Demo
model=tamrix
out="$root/demo-output"
headless=0
build_it=1
build="$root/build"
[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && headless=1
while [ $# -gt 0 ]; do
  case "$1" in
    --program) program=$2; shift 2 ;;
    --model) model=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --headless) headless=1; shift ;;
    --no-build) build_it=0; shift ;;
    --build-dir) build=$2; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done
case "$program" in Vexlo_Demo|Vexlo|Tamrix) ;; *) echo "unknown program: $program" >&2; exit 2 ;; esac
case "$model" in tamrix|selvor) ;; *) echo "unknown model: $model" >&2; exit 2 ;; esac
[ "$program:$model" = Tamrix:selvor ] && { echo "Tamrix talks to the Tamrix model only: use --model tamrix" >&2; exit 2; }

if [ $build_it -eq 1 ]; then
  if [ $headless -eq 1 ]; then scripts/deps.sh demo; else scripts/deps.sh build; fi
  cmake --preset default >/dev/null
  cmake --build --preset default -j"$(nproc)" --target "$program" vexlo-board-sim vexlo-demo-tool >/dev/null
fi

exe="$build/app/$program"
sim="$build/sim/vexlo-board-sim"
tool="$build/demo/vexlo-demo-tool"

# The COM link lives in a temporary config folder: the user's own links stay untouched.
work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config"
# Outside a desktop session nothing has made the per-user runtime folder;
# make a private one (mode 0700, as a session manager does) so that Qt has
# somewhere to put its runtime files and says nothing about it.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -m 0700 "$XDG_RUNTIME_DIR"
fi
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

"$sim" --model "$model" --com 4 --print-ready >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do grep -q '^READY' "$work/sim.log" 2>/dev/null && break; sleep 0.02; done
grep -q '^READY' "$work/sim.log" || { echo "the simulator did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }
echo "Simulated $model board on COM4 ($(sed -n 's/^READY //p' "$work/sim.log"))"

if [ $headless -eq 0 ]; then
  "$exe"
  exit 0
fi

# ---- Headless: Xvfb, real clicks, files in $out --------------------------
# Every wait below is on something the window or the file system shows (the
# window mapped, the status line's text, the dialog focused, the file
# written, the program gone), polled briefly and given up after a time-out.
mkdir -p "$out"
rm -f "$out/vexlo-demo.csv" "$out/vexlo-demo.png"
# Xvfb picks a free display itself and writes its number once it accepts
# connections (-displayfd): no guessing, no clash with another X server.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 500); do [ -s "$work/display" ] && break; sleep 0.02; done
[ -s "$work/display" ] || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
DISPLAY=:$(head -n1 "$work/display")
export DISPLAY

"$exe" >"$work/program.log" 2>&1 &
prog_pid=$!
pids+=($prog_pid)
wait_window() {  # wait_window SECONDS xdotool-search-arguments...: first visible match
  local deadline=$((SECONDS + $1)) w; shift
  while [ $SECONDS -le $deadline ]; do
    w=$(xdotool search --onlyvisible "$@" 2>/dev/null | head -n1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.05
  done
  return 1
}
wid=$(wait_window 20 --pid "$prog_pid") || { echo "the window did not appear:" >&2; cat "$work/program.log" >&2; exit 1; }
eval "$(xdotool getwindowgeometry --shell "$wid")"   # X, Y, WIDTH, HEIGHT
wx=$X; wy=$Y; ww=$WIDTH; wh=$HEIGHT
declare -A cx cy
while read -r name x y; do cx[$name]=$x; cy[$name]=$y; done < <("$tool" geometry "$program")

fail=0
# The X server handles fake input in the order it is sent, and the program
# reads it in that order: no pause is needed between a move, a click and the
# keys that follow. (No --sync on the move either: xdotool waits seconds
# for a pointer that is already where it is told to go.)
click() {  # click NAME [count]
  xdotool mousemove $((wx + cx[$1])) $((wy + cy[$1])) click --repeat "${2:-1}" 1
}
status() {  # the text of the status line, copied as an operator would
  click Status
  xdotool key --clearmodifiers ctrl+a ctrl+c
  "$tool" clipboard   # waits for the copy, then empties the clipboard for the next one
}
last=
wait_status() {  # wait_status PREFIX SECONDS: poll the status line until it starts with PREFIX
  local deadline=$((SECONDS + $2))
  while :; do
    last=$(status)
    case "$last" in "$1"*) return 0 ;; esac
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.1
  done
}
step() {  # step "what" EXPECTED-PREFIX SECONDS
  local ok=1
  wait_status "$2" "$3" || ok=0
  printf '  %-26s Status: %s\n' "$1" "$last"
  [ $ok -eq 1 ] || { echo "    expected: $2..." >&2; fail=1; }
}

# The model option that matches the simulated board (Tamrix has none).
case "$program:$model" in
  Vexlo_Demo:tamrix) option=Option_CM ;;  Vexlo_Demo:selvor) option=Option_RS ;;
  Vexlo:tamrix) option=Option3 ;;         Vexlo:selvor) option=Option4 ;;
  Tamrix:*) option= ;;
esac
echo "Working the window on $DISPLAY:"
[ -n "$option" ] && click "$option"
click Button1
step "接続確認" "$( [ "$program" = Tamrix ] && echo Tamrix || echo Vexlo ) : BUF" 10
# Without a connection nothing further can work: stop here.
[ $fail -eq 0 ] || { echo "Demo FAILED." >&2; exit 1; }
click Option2                                   # mVデータ
click Combo2; xdotool key Down Down             # CH0 + CH1
click Combo1; for _ in $(seq 10); do xdotool key Down; done   # fastest data rate (the list's last)
click Text1; xdotool key ctrl+a; xdotool type 1000
click SendB2
step "測定開始 (1000 x 2ch mV)" "測定終了... [mV pp] CH0=" 60
"$tool" screenshot "$wid" "$out/vexlo-demo.png" || { echo "screenshot failed" >&2; fail=1; }

click Command1                                   # データ保存
if dlg=$(wait_window 10 --name 'データファイル'); then
  # Type only once the dialog holds the keyboard focus.
  for _ in $(seq 100); do [ "$(xdotool getwindowfocus 2>/dev/null)" = "$dlg" ] && break; sleep 0.05; done
  xdotool key --window "$dlg" ctrl+a
  xdotool type --delay 5 "$out/vexlo-demo.csv"
  xdotool key Return
  for _ in $(seq 200); do [ -s "$out/vexlo-demo.csv" ] && break; sleep 0.05; done
else
  echo "the save dialog did not appear" >&2; fail=1
fi
click QuitB
for _ in $(seq 100); do kill -0 "$prog_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$prog_pid" 2>/dev/null && { echo "the program did not quit" >&2; fail=1; }

if [ -s "$out/vexlo-demo.csv" ]; then
  rows=$(( $(tr -cd '\n' <"$out/vexlo-demo.csv" | wc -c) - 8 ))
  crlf=$(grep -c $'\r$' "$out/vexlo-demo.csv" || true)
  echo "  data file: $out/vexlo-demo.csv ($rows rows, $crlf CR LF lines)"
  [ "$rows" -eq 1000 ] || fail=1
else
  echo "  no data file was written" >&2; fail=1
fi
[ -s "$out/vexlo-demo.png" ] && echo "  screenshot: $out/vexlo-demo.png (${ww}x${wh})"
# Anything the program printed (toolkit warnings included) is shown.
if [ -s "$work/program.log" ]; then
  echo "  the program printed:"; sed 's/^/    /' "$work/program.log"
fi
[ $fail -eq 0 ] && echo "Demo finished: every step showed what it should." || echo "Demo FAILED." >&2
exit $fail
