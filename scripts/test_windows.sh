#!/usr/bin/env bash
# Builds the module (molvex.dll), its companions (glyphkit.dll, rexkit.dll) and the unit tests as
# 64-bit Windows programs with MinGW-w64, and runs the tests under Wine. The Wine prefix lives in
# build-win/wineprefix; a wineserver is started for the run (and stopped after it) and the prefix
# booted with standard input and output detached before the first test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake --preset windows >/dev/null
cmake --build --preset windows

cache=build-win/CMakeCache.txt
wine=$(sed -n 's/^MOLVEX_WINE:FILEPATH=//p' "$cache")
wineserver=$(sed -n 's/^MOLVEX_WINESERVER:FILEPATH=//p' "$cache")
export WINEPREFIX="$PWD/build-win/wineprefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$WINEPREFIX"
if "$wineserver" -p </dev/null >/dev/null 2>&1; then
  trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
fi  # else one runs already for this prefix: it is used and left as it is
"$wine" wineboot -i </dev/null >/dev/null 2>&1

ctest --preset windows
