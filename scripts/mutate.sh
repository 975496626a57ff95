#!/usr/bin/env bash
# Mutation check: applies one hand-written fault at a time from a list,
# rebuilds, runs the test suite (without the demo) and reverts, then says
# which faults the tests caught. A developer tool, slow, not run by CI.
#
#   scripts/mutate.sh [-j N] [-b BUILD_DIR] [-l LIST] [-R TEST_REGEX] [-T TARGETS]
#                     [-t SECONDS] [PATTERN...]
#
#   PATTERN       only the mutations whose file starts with or matches the
#                 shell pattern (cli/, analysis/Histogram.cpp, '*/Stats*')
#   -j N          build and test jobs (default 2)
#   -b DIR        build directory, configured already (default build)
#   -l FILE       the mutation list (default scripts/mutations.txt)
#   -R REGEX      run only the tests matching REGEX (quicker, may miss some)
#   -T TARGETS    build only these targets (space-separated; with -R: the
#                 test programs it runs and the programs they start)
#   -t SECONDS    per-test time-out (default 300); a mutant that hangs a test
#                 counts as caught
#
# List format (see scripts/mutations.txt): blocks separated by blank lines,
#   FILE:LINE  what the fault is
#   - text as it stands on the line (leading/trailing blanks ignored)
#   + the text that replaces it
#   = equivalent: why no test can tell   (optional; such a block is not run)
# The text is looked for on LINE, else on the nearest line that holds it; a
# block whose text is gone is reported "stale" and not counted.
#
# The source file is always restored (on exit, error or Ctrl-C); a run killed
# outright (SIGKILL) is repaired by the next run from BUILD_DIR/mutate-backup.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
jobs=2 build=build list=scripts/mutations.txt regex='' targets='' timeout=300
while getopts "j:b:l:R:T:t:h" opt; do
    case $opt in
        j) jobs=$OPTARG ;;
        b) build=$OPTARG ;;
        l) list=$OPTARG ;;
        R) regex=$OPTARG ;;
        T) targets=$OPTARG ;;
        t) timeout=$OPTARG ;;
        *) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
patterns=("$@")

cd "$root"
[[ -f $list ]] || { echo "mutate.sh: no list $list" >&2; exit 2; }
[[ -f $build/CMakeCache.txt ]] || { echo "mutate.sh: $build is not configured (cmake --preset default)" >&2; exit 2; }
backup="$root/$build/mutate-backup"

restore() {
    if [[ -f $backup/path ]]; then
        local target
        target=$(cat "$backup/path")
        cp "$backup/original" "$root/$target"
        rm -f "$backup/path" "$backup/original"
    fi
}
restore # left behind by a run that was killed outright
trap restore EXIT
trap 'restore; exit 130' INT
trap 'restore; exit 143' TERM
mkdir -p "$backup"

# The list as one record per line: file, line, from, to, equivalent reason,
# separated by the unit separator (0x1f).
parse() {
    python3 - "$1" <<'EOF'
import sys
blocks, cur = [], None
for raw in open(sys.argv[1], encoding="utf-8").read().splitlines():
    if raw.startswith("#"):
        continue
    if not raw.strip():
        cur = None
        continue
    if cur is None:
        where = raw.split()[0]
        f, _, n = where.rpartition(":")
        cur = {"file": f, "line": n, "from": "", "to": "", "eq": ""}
        blocks.append(cur)
    elif raw.startswith("- "):
        cur["from"] = raw[2:].strip()
    elif raw.startswith("+ "):
        cur["to"] = raw[2:].strip()
    elif raw.startswith("+"):
        cur["to"] = ""
    elif raw.startswith("= "):
        cur["eq"] = raw[2:].strip()
for b in blocks:
    if not b["from"]:
        sys.exit("mutate.sh: a block at %s:%s has no '- ' line" % (b["file"], b["line"]))
    print("\x1f".join([b["file"], b["line"], b["from"], b["to"], b["eq"]]))
EOF
}

# Replaces `from` with `to` on the given line or the nearest one holding it;
# prints the line number used, or nothing (exit 3) when the text is gone.
apply() {
    python3 - "$@" <<'EOF'
import sys
path, line, old, new = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
try:
    data = open(path, encoding="utf-8", newline="").read()
except OSError:
    sys.exit(3)
lines = data.splitlines(keepends=True)
hits = [i for i, l in enumerate(lines) if old in l]
if not hits:
    sys.exit(3)
i = min(hits, key=lambda i: (abs(i + 1 - line), i))
lines[i] = lines[i].replace(old, new, 1)
open(path, "w", encoding="utf-8", newline="").write("".join(lines))
print(i + 1)
EOF
}

matches() {
    local file=$1 p
    ((${#patterns[@]} == 0)) && return 0
    for p in "${patterns[@]}"; do
        # shellcheck disable=SC2053
        [[ $file == "$p"* || $file == $p ]] && return 0
    done
    return 1
}

build_args=(--build "$build" -j "$jobs")
# shellcheck disable=SC2206
[[ -n $targets ]] && build_args+=(--target $targets)
ctest_args=(--test-dir "$build" -E '^demo_headless$' --timeout "$timeout" --stop-on-failure -j "$jobs")
[[ -n $regex ]] && ctest_args+=(-R "$regex")

declare -A f_caught f_real
caught=0 real=0 equivalent=0 stale=0 nobuild=0
log="$root/$build/mutate-last.log"
: >"$log"

while IFS=$'\x1f' read -r -u 3 file line from to eq; do
    matches "$file" || continue
    folder=${file%%/*}/
    label="$file:$line  ${to:-<removed>}"
    if [[ -n $eq ]]; then
        equivalent=$((equivalent + 1))
        printf '%-11s %s  (%s)\n' equivalent "$label" "$eq"
        continue
    fi
    cp "$file" "$backup/original"
    printf '%s' "$file" >"$backup/path"
    if ! at=$(apply "$file" "$line" "$from" "$to"); then
        restore
        stale=$((stale + 1))
        printf '%-11s %s  (text gone: %s)\n' stale "$file:$line" "$from"
        continue
    fi
    label="$file:$at  ${to:-<removed>}"
    echo "=== $label" >>"$log"
    if ! cmake "${build_args[@]}" </dev/null >>"$log" 2>&1; then
        restore
        nobuild=$((nobuild + 1))
        printf '%-11s %s\n' "no build" "$label"
        continue
    fi
    real=$((real + 1))
    f_real[$folder]=$((${f_real[$folder]:-0} + 1))
    if out=$(ctest "${ctest_args[@]}" </dev/null 2>&1); then
        verdict="NOT CAUGHT"
    else
        verdict=caught
        caught=$((caught + 1))
        f_caught[$folder]=$((${f_caught[$folder]:-0} + 1))
    fi
    echo "$out" >>"$log"
    failed=$(grep -oE '[0-9]+ - [A-Za-z0-9_]+ \(' <<<"$out" | sed 's/^[0-9]* - //; s/ ($//' | paste -sd, - || true)
    restore
    printf '%-11s %s%s\n' "$verdict" "$label" "${failed:+  ($failed)}"
done 3< <(parse "$list")

echo "--- build: restoring the unmutated objects"
cmake "${build_args[@]}" </dev/null >>"$log" 2>&1 || echo "mutate.sh: the final rebuild failed, see $log" >&2

for folder in $(printf '%s\n' "${!f_real[@]}" | sort); do
    printf '%-12s caught %d of %d\n' "$folder" "${f_caught[$folder]:-0}" "${f_real[$folder]}"
done
pct=0
((real > 0)) && pct=$((100 * caught / real))
echo "total: caught $caught of $real ($pct %); equivalent $equivalent, stale $stale, no build $nobuild"
echo "log: $log"
