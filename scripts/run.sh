#!/usr/bin/env bash
# Sets up, builds and runs the main job: molvex-scan, the reference host, scans the bundled
# sample messages with libmolvex.so on the built-in default settings and prints the verdicts.
# Arguments replace the sample folder, e.g.: scripts/run.sh -j 2 --json ~/Maildir
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --scan
cmake --preset default >/dev/null
cmake --build --preset default --target molvex-scan
if [ "$#" -eq 0 ]; then set -- samples; fi
exec build/molvex-scan "$@"
