#!/usr/bin/env bash
# Builds everything and runs every test (widget tests on the offscreen
# platform, end-to-end tests against the simulated board on a pty).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh demo
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)"
ctest --preset default -j"$(nproc)" "$@"
