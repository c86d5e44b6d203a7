#!/usr/bin/env bash
# Hostile-mail benchmark: for each input shape (bench/hostile_gen.py) at two sizes, N and 2N,
# generates the input into a temporary folder (removed at the end), runs build/molvex-scan on it
# (build/molvex-urldb build for URL lists) under /usr/bin/time, and prints elapsed time and peak
# RSS at both sizes, the time ratio of the doubling (linear work gives about 2), the time per
# 10 MB of message, and whether peak RSS stays within 10 times the message plus 64 MB.
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
  "headers 50000" "empty-parts 5000" "nesting 2500" "long-line 10000000"
  "text-urls 100000" "html-urls 100000" "addresses 1000000" "url-list 1000000"
)

# Runs one shape at size n; prints "bytes seconds peak-KB".
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
  /usr/bin/time -f '%e %M' -o "$work/time" "${cmd[@]}" >/dev/null 2>"$work/err" ||
    { echo "$shape $n failed:" >&2; cat "$work/err" >&2; }
  echo "$(stat -c %s "$input") $(cat "$work/time")"
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
    printf("%-12s %9d %8.1f %7.2f %8.0f | %9d %8.1f %7.2f %8.0f | %5.2f %8s %s\n", s, n,
           b1 / 1048576, t1, m1 / 1024, 2 * n, b2 / 1048576, t2, m2 / 1024, ratio, per, fits)
  }'
done
