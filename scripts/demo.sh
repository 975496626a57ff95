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
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

"$sim" --model "$model" --com 4 --print-ready >"$work/sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^READY' "$work/sim.log" 2>/dev/null && break; sleep 0.05; done
grep -q '^READY' "$work/sim.log" || { echo "the simulator did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }
echo "Simulated $model board on COM4 ($(sed -n 's/^READY //p' "$work/sim.log"))"

if [ $headless -eq 0 ]; then
  "$exe"
  exit 0
fi

# ---- Headless: Xvfb, real clicks, files in $out --------------------------
mkdir -p "$out"
rm -f "$out/vexlo-demo.csv" "$out/vexlo-demo.png"
display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.05; done

"$exe" >"$work/program.log" 2>&1 &
prog_pid=$!
pids+=($prog_pid)
wid=$(timeout 20 xdotool search --sync --onlyvisible --pid "$prog_pid" 2>/dev/null | head -n1)
[ -n "$wid" ] || { echo "the window did not appear" >&2; exit 1; }
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$wid")"   # X, Y, WIDTH, HEIGHT
wx=$X; wy=$Y; ww=$WIDTH; wh=$HEIGHT
declare -A cx cy
while read -r name x y; do cx[$name]=$x; cy[$name]=$y; done < <("$tool" geometry "$program")

fail=0
click() {  # click NAME [count]
  xdotool mousemove --sync $((wx + cx[$1])) $((wy + cy[$1])) click --repeat "${2:-1}" 1
  sleep 0.2
}
status() {  # the text of the status line, copied as an operator would
  click Status
  xdotool key --clearmodifiers ctrl+a ctrl+c
  sleep 0.2
  "$tool" clipboard
}
step() {  # step "what" EXPECTED-PREFIX
  local s; s=$(status)
  printf '  %-26s Status: %s\n' "$1" "$s"
  case "$s" in "$2"*) ;; *) echo "    expected: $2..." >&2; fail=1 ;; esac
}

tamrix=Option_CM; [ "$program" = Vexlo ] && tamrix=Option3
[ "$program" = Tamrix ] && tamrix=
echo "Working the window on $DISPLAY:"
[ -n "$tamrix" ] && click "$tamrix"
click Button1
sleep 1
step "接続確認" "$( [ "$program" = Tamrix ] && echo Tamrix || echo Vexlo ) : BUF"
click Option2                                   # mVデータ
click Combo2; xdotool key Down Down             # CH0 + CH1
click Combo1; for _ in $(seq 10); do xdotool key Down; done   # fastest data rate
click Text1; xdotool key ctrl+a; xdotool type 1000
click SendB2
for _ in $(seq 120); do
  s=$(status); case "$s" in 測定終了*) break ;; esac; sleep 0.5
done
step "測定開始 (1000 x 2ch mV)" "測定終了... [mV pp] CH0="
"$tool" screenshot "$wid" "$out/vexlo-demo.png" || { echo "screenshot failed" >&2; fail=1; }

click Command1                                   # データ保存
dlg=$(timeout 10 xdotool search --sync --onlyvisible --name 'データファイル' | head -n1)
if [ -n "$dlg" ]; then
  sleep 0.5
  xdotool key --window "$dlg" ctrl+a
  xdotool type --delay 5 "$out/vexlo-demo.csv"
  xdotool key Return
  for _ in $(seq 50); do [ -s "$out/vexlo-demo.csv" ] && break; sleep 0.1; done
else
  echo "the save dialog did not appear" >&2; fail=1
fi
click QuitB
sleep 0.5

if [ -s "$out/vexlo-demo.csv" ]; then
  rows=$(( $(tr -cd '\n' <"$out/vexlo-demo.csv" | wc -c) - 8 ))
  crlf=$(grep -c $'\r$' "$out/vexlo-demo.csv" || true)
  echo "  data file: $out/vexlo-demo.csv ($rows rows, $crlf CR LF lines)"
  [ "$rows" -eq 1000 ] || fail=1
else
  echo "  no data file was written" >&2; fail=1
fi
[ -s "$out/vexlo-demo.png" ] && echo "  screenshot: $out/vexlo-demo.png (${ww}x${wh})"
[ $fail -eq 0 ] && echo "Demo finished: every step showed what it should." || echo "Demo FAILED." >&2
exit $fail
