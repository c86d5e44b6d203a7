#!/usr/bin/env bash
# Sets up, builds and runs every test: the regular build, then the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the multi-threaded tests under
# ThreadSanitizer, then each fuzz target for a bounded time (MOLVEX_FUZZ_SECONDS, default 60),
# then the Windows build with its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --all

scripts/public_suffix_check.sh
dump=$(scripts/ucd_check.sh)
if [ -n "$dump" ]; then export MOLVEX_UCD_LOWER_DUMP="$dump"; fi

for preset in default asan; do
  echo "== $preset build"
  cmake --preset "$preset" -DMOLVEX_WERROR=ON >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

echo "== installed tree and Debian package"
scripts/test_install.sh

echo "== tsan build (multi-threaded tests)"
cmake --preset tsan -DMOLVEX_WERROR=ON >/dev/null
cmake --build --preset tsan
ctest --preset tsan -L threads

echo "== fuzz build (each target for ${MOLVEX_FUZZ_SECONDS:-60} s)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
scripts/fuzz.sh "${MOLVEX_FUZZ_SECONDS:-60}"

echo "== windows build (MinGW-w64, tests under Wine)"
scripts/test_windows.sh
