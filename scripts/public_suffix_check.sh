#!/usr/bin/env bash
# Checks that the committed public suffix table (host/public_suffix_table.cpp) is what
# scripts/gen_public_suffix_table.py makes of the installed list (Debian's publicsuffix package):
# regenerates it into the build folder and compares. Succeeds without a word when python3 or the
# list is not there; fails, naming the table, when the list changed (regenerate and commit).
set -euo pipefail
cd "$(dirname "$0")/.."
list=/usr/share/publicsuffix/public_suffix_list.dat
command -v python3 >/dev/null && [ -r "$list" ] || exit 0
mkdir -p build
python3 scripts/gen_public_suffix_table.py --list "$list" --out build/public_suffix_table.cpp
if ! cmp -s build/public_suffix_table.cpp host/public_suffix_table.cpp; then
  echo "public_suffix_check: host/public_suffix_table.cpp differs from the generator's output;" \
       "run scripts/gen_public_suffix_table.py and commit the table" >&2
  exit 1
fi
