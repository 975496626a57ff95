#!/usr/bin/env bash
# Builds everything with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# (the "asan" preset, in build-asan; the fuzz targets come with it) and runs
# every test; any sanitizer report fails its test. Extra arguments go to
# ctest (e.g. -R tst_faults).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh all
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$(nproc)"
ctest --preset asan -j"$(nproc)" "$@"
