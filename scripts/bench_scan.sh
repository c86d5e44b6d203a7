#!/usr/bin/env bash
# Scanner benchmark: generates a corpus of 10,000 synthetic messages (2-20 KB, mixed parts and
# URLs) once, then scans it with 1 and with 2 threads and prints the scanner's summary
# (messages per second, parsing and module time per message).
#   scripts/bench_scan.sh [COUNT]
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-10000}
scripts/setup.sh >/dev/null
cmake --preset default >/dev/null
cmake --build --preset default --target molvex-scan molvex-corpus >/dev/null

corpus=build/bench-corpus-$count
if [ ! -d "$corpus" ]; then
  build/molvex-corpus -n "$count" -o "$corpus.partial"
  mv "$corpus.partial" "$corpus"
fi
cat "$corpus"/*.eml >/dev/null  # warm the page cache so that the first run reads no disk
for threads in 1 2; do
  echo "== $threads thread(s)"
  build/molvex-scan --no-progress -j "$threads" "$corpus" >/dev/null
done
