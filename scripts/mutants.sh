#!/usr/bin/env bash
# Mutation check of the module's sources: plants one fault at a time, rebuilds build/ and runs
# the test suite; see scripts/mutants.py --help. Needs a configured build folder
# (cmake --preset default). Example: scripts/mutants.sh --sample 40 --seed 1
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 scripts/mutants.py "$@"
