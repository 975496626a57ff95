#!/usr/bin/env bash
# Builds the libFuzzer targets (the "asan" preset: clang, AddressSanitizer +
# UndefinedBehaviorSanitizer, in build-asan) and runs each of them.
#
#   scripts/fuzz.sh --smoke      seed corpus + 10000 executions per target (CI)
#   scripts/fuzz.sh --runs N     N executions per target
#   scripts/fuzz.sh              10 million executions per target
#   scripts/fuzz.sh ... -- TARGET...   only these targets
#
# New inputs go to build-asan/corpus/<target> (the seeds in fuzz/corpus stay
# untouched); a crash leaves its input in build-asan/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

runs=10000000
targets=(fuzz_number fuzz_reply fuzz_receive fuzz_decode fuzz_datafile fuzz_analysis fuzz_datafile_read)
while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) runs=10000; shift ;;
    --runs) runs=$2; shift 2 ;;
    --) shift; [ $# -gt 0 ] && targets=("$@"); break ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

scripts/deps.sh fuzz
build="$root/build-asan"
cmake --preset asan >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >"$build/build.log" 2>&1 \
  || { tail -n 40 "$build/build.log" >&2; echo "the fuzz targets did not build" >&2; exit 1; }

# Two frames per allocation record: Qt's libraries keep no frame pointers, so
# deeper allocation stacks hold junk frames, every one new to the sanitizer's
# stack store, which then grows and slows each allocation (most of the time of
# a long run). Fault reports keep their own full stack.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:malloc_context_size=2:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
mkdir -p "$build/artifacts"
fail=0
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  mkdir -p "$work"
  # Inputs of the decoding target are blocks of up to 512 texts; above 1 KiB
  # (about 128 texts) they only repeat the same loops, at several times the
  # cost per input.
  max_len=4096
  [ "$t" = fuzz_decode ] && max_len=1024
  start=$(date +%s)
  if timeout $(( 600 + runs / 1000 )) "$build/fuzz/$t" -runs="$runs" -max_len=$max_len -rss_limit_mb=4096 \
       -timeout=20 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
       "$work" "$root/fuzz/corpus/$t" >"$build/$t.log" 2>&1; then
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$t.log")
    echo "$t: ok, ${execs:-?} executions in $(( $(date +%s) - start )) s"
  else
    echo "$t: FAILED (log: $build/$t.log)" >&2
    tail -n 30 "$build/$t.log" >&2
    fail=1
  fi
done
exit $fail
