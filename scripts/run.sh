#!/usr/bin/env bash
# Sets up, builds the module and runs the main job: molvex-info loads libmolvex.so as a host
# does and shows its version, its module types and the trace lines of their life cycle.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target molvex molvex-info
exec build/molvex-info "$@"
