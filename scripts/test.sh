#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. the CTest suite: unit and widget tests (offscreen), end-to-end tests
#      against the simulated board on a pty, and the headless demo;
#   2. the Debian package from the release preset, checked by lintian,
#      appstreamcli and desktop-file-validate (scripts/package-check.sh);
#   3. a short run of every fuzz target (clang, AddressSanitizer and
#      UndefinedBehaviorSanitizer: the "asan" preset);
#   4. the suite again from that sanitized build (less the demo, which step 1
#      ran).
# With --quick only step 1 runs. Other arguments go to the first ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
# ccache (when installed) keys objects by paths relative to the checkout.
export CCACHE_BASEDIR="$PWD"
quick=0
if [ "${1:-}" = --quick ]; then quick=1; shift; fi

if [ $quick -eq 1 ]; then scripts/deps.sh demo; else scripts/deps.sh all; fi
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)"
ctest --preset default -j"$(nproc)" "$@"
[ $quick -eq 1 ] && exit 0

echo "== The Debian package: lintian, AppStream, desktop entries"
scripts/package-check.sh
echo "== Fuzz targets, short run"
scripts/fuzz.sh --smoke
# Last, so that CTest's summary closes the run.
echo "== The suite under AddressSanitizer and UndefinedBehaviorSanitizer"
scripts/test-asan.sh -E demo_headless
