#!/usr/bin/env bash
# Runs the fuzz targets of the fuzz build (cmake --preset fuzz && cmake --build --preset fuzz)
# one after the other, each for the given number of seconds (default 60) on a scratch copy of
# its seed corpus, so that fuzz/corpus stays as committed. Prints each target's executions,
# executions per second and coverage. A finding stops the run and fails it; the input that
# caused it is kept in the scratch folder, whose path is printed.
#   scripts/fuzz.sh [seconds] [target...]      targets: datafile utf urlkeys matchinglist ...
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
bin=build-fuzz/fuzz
if [ "$#" -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in "$bin"/*_fuzzer; do targets+=("$(basename "$f" _fuzzer)"); done
fi

# Per-input limits: every target handles one input in milliseconds, and in time and memory
# linear in its size. 10 s per input is over a hundred times what the largest inputs take under
# ASan, so a timeout means superlinear work (a hang, a quadratic path), not a slow machine.
# 1024 MB RSS is about four times what the ASan runtime and the largest inputs need together, so
# exceeding it means memory that grows out of proportion to the input.
limits=(-timeout=10 -rss_limit_mb=1024)

scratch=$(mktemp -d /tmp/molvex-fuzz-XXXXXX)
for t in "${targets[@]}"; do
  mkdir -p "$scratch/$t"
  cp fuzz/corpus/"$t"/* "$scratch/$t/"
  log="$scratch/$t.log"
  if ! "$bin/${t}_fuzzer" -max_total_time="$seconds" "${limits[@]}" -print_final_stats=1 \
      -artifact_prefix="$scratch/$t-" "$scratch/$t" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $t found a problem; input and log kept in $scratch" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
  echo "fuzz: $t ${seconds}s: $runs runs, $speed exec/s, $cov"
done
rm -rf "$scratch"
