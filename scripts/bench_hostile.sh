#!/usr/bin/env bash
# Hostile-mail benchmark: for each input shape (bench/hostile_gen.py) at two sizes, N and 2N (the
# messages about 5 and 10 MB), generates the input into a temporary folder (removed at the end),
# runs build/molvex-scan on it (build/molvex-urldb build for URL lists) and prints the elapsed
# time (the best of MOLVEX_BENCH_RUNS runs, default 3) and peak RSS at both sizes, the time
# ratio of the doubling (linear work gives about 2; the start-up of a run, some 20 ms, pulls it
# below), the time per 10 MB of message, and whether peak RSS stays within 10 times the message
# plus 64 MB.
#   scripts/bench_hostile.sh [scale]    scale multiplies every N (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
scale=${1:-1}
scan=build/molvex-scan
urldb=build/molvex-urldb
[ -x "$scan" ] && [ -x "$urldb" ] || { echo "build first: cmake --build --preset default" >&2; exit 1; }
work=$(mktemp -d /tmp/molvex-hostile-XXXXXX)
trap 'rm -rf "$work"' EXIT

# shape and N: messages first, then the lists
shapes=(
  "headers 400000" "part-headers 400000" "empty-parts 160000" "nesting 70000" "long-line 5000000"
  "text-urls 125000" "html-urls 100000" "addresses 1000000" "url-list 1000000"
)
runs=${MOLVEX_BENCH_RUNS:-3}

# Runs one shape at size n; prints "bytes seconds peak-KB" (the best time, the largest peak).
run() {
  local shape=$1 n=$2 input="$work/$1-$2"
  python3 bench/hostile_gen.py "$shape" "$n" "$input"
  local cmd
  case $shape in
    addresses) cmd=("$scan" -q --no-progress --blacklist "$input" samples/01-clean.eml) ;;
    url-list) cmd=("$urldb" build --urls "$input" --subdomains "$input" --domains "$input"
                   -o "$work/out.dat") ;;
    *) cmd=("$scan" -q --no-progress "$input") ;;
  esac
  local best="" peak=0
  for ((i = 0; i < runs; i++)); do
    rm -f "$work/out.dat"
    local start end rss
    start=$(date +%s%N)
    /usr/bin/time -f '%M' -o "$work/time" "${cmd[@]}" >/dev/null 2>"$work/err" ||
      { echo "$shape $n failed:" >&2; cat "$work/err" >&2; }
    end=$(date +%s%N)
    rss=$(cat "$work/time")
    ((rss > peak)) && peak=$rss
    if [ -z "$best" ] || ((end - start < best)); then best=$((end - start)); fi
  done
  echo "$(stat -c %s "$input") $(awk -v ns="$best" 'BEGIN { printf("%.3f", ns / 1e9) }') $peak"
  rm -f "$input" "$work/out.dat"
}

printf '%-12s %9s %8s %7s %8s | %9s %8s %7s %8s | %5s %8s %s\n' shape N MB s RSS-MB 2N MB s RSS-MB ratio s/10MB \
  "RSS<=10x+64MB"
for entry in "${shapes[@]}"; do
  read -r shape n <<<"$entry"
  n=$((n * scale))
  read -r b1 t1 m1 <<<"$(run "$shape" "$n")"
  read -r b2 t2 m2 <<<"$(run "$shape" $((2 * n)))"
  awk -v s="$shape" -v n="$n" -v b1="$b1" -v t1="$t1" -v m1="$m1" -v b2="$b2" -v t2="$t2" \
      -v m2="$m2" 'BEGIN {
    list = (s == "addresses" || s == "url-list")
    per = list ? "-" : sprintf("%.2f", t2 / (b2 / 1e7))
    fits = list ? "-" : ((m2 / 1024 <= 10 * b2 / 1048576 + 64) ? "yes" : "no")
    ratio = t1 > 0 ? t2 / t1 : 0
    printf("%-12s %9d %8.1f %7.3f %8.0f | %9d %8.1f %7.3f %8.0f | %5.2f %8s %s\n", s, n,
           b1 / 1048576, t1, m1 / 1024, 2 * n, b2 / 1048576, t2, m2 / 1024, ratio, per, fits)
  }'
done
