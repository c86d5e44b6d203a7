#!/usr/bin/env bash
# Throughput of a private Postfix instance with and without molvex-milter in front: smtp-source
# sends N messages over S sessions to Postfix on 127.0.0.1, which relays them to smtp-sink; a
# run lasts until the last message has been relayed (the queue is empty).
# Runs alternate (without, with, without, ...) for R rounds, each on a fresh queue folder:
# the file system slows down as a queue folder ages, which would favour whichever run comes
# first. Prints every run, the median of each side and the share of Postfix's throughput the
# milter keeps, the milter's CPU time per message and its own time per message (its counters).
# MOLVEX_BENCH_QUEUE=FOLDER puts the queue there (a tmpfs shows Postfix without disk costs).
# Needs root and Postfix (smtp-source, smtp-sink); touches nothing of the system's Postfix.
#
#   scripts/bench_milter.sh [N [S [SIZE [R]]]]   (default 2000 messages, 10 sessions, 4096 bytes,
#                                                 3 rounds)
set -euo pipefail
n=${1:-2000}; s=${2:-10}; size=${3:-4096}; rounds=${4:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
milter_bin=$root/build/molvex-milter
[ -x "$milter_bin" ] || { echo "bench_milter: build molvex-milter first" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "bench_milter: Postfix needs root to start" >&2; exit 1; }

work=$(mktemp -d /tmp/molvex-bench.XXXXXX); chmod 755 "$work"
milter_pid=""; sink_pid=""; up=0
cleanup() {
  [ "$up" -eq 1 ] && /usr/sbin/postfix -c "$work/etc" stop >/dev/null 2>&1 || true
  [ -n "$milter_pid" ] && kill "$milter_pid" 2>/dev/null && wait "$milter_pid" 2>/dev/null || true
  [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null && wait "$sink_pid" 2>/dev/null || true
  rm -rf "$work" "${queue:-}"
}
trap cleanup EXIT
. "$root/scripts/private_postfix.sh"
smtp_port=$(free_port); milter_port=$(free_port); sink_port=$(free_port)
/usr/sbin/smtp-sink -u postfix -c "127.0.0.1:$sink_port" 1000 >"$work/sink.log" 2>&1 & sink_pid=$!
# A unix socket by default: over loopback TCP, Postfix's macro-then-command writes meet the
# milter's delayed acknowledgements and each message waits about 40 ms (MOLVEX_BENCH_SOCKET=inet
# shows it).
if [ "${MOLVEX_BENCH_SOCKET:-unix}" = inet ]; then
  milter_spec="inet:$milter_port@127.0.0.1"; postfix_spec="inet:127.0.0.1:$milter_port"
else
  milter_spec="unix:$work/milter.sock"; postfix_spec="unix:$work/milter.sock"
fi
"$milter_bin" --foreground --socket "$milter_spec" >"$work/milter.log" 2>&1 &
milter_pid=$!
wait_port "$sink_port"
if [ "${MOLVEX_BENCH_SOCKET:-unix}" = inet ]; then
  wait_port "$milter_port"
else
  for _ in $(seq 100); do [ -S "$work/milter.sock" ] && break; sleep 0.1; done
  chmod 666 "$work/milter.sock"  # smtpd runs as the postfix user
fi
private_postfix_config "$work" molvex-bench "$smtp_port" "$sink_port"
/usr/sbin/postfix -c "$work/etc" start >/dev/null; up=1
wait_port "$smtp_port"

queue=""
if [ -n "${MOLVEX_BENCH_QUEUE:-}" ]; then
  queue=$(mktemp -d "$MOLVEX_BENCH_QUEUE/molvex-queue.XXXXXX"); chmod 755 "$queue"
fi

# Restarts Postfix on an empty queue folder with the milters given (none: "").
fresh() {
  /usr/sbin/postfix -c "$work/etc" stop >/dev/null 2>&1 || true; up=0
  rm -rf "$work/queue"
  if [ -n "$queue" ]; then
    rm -rf "${queue:?}"/*; ln -sfn "$queue" "$work/queue"
  else
    mkdir -p "$work/queue"
  fi
  /usr/sbin/postconf -c "$work/etc" -e "smtpd_milters = $1"
  /usr/sbin/postfix -c "$work/etc" start >/dev/null; up=1
  wait_port "$smtp_port"
}

# True when no message is left in the queue (all relayed to smtp-sink).
queue_empty() {
  [ -z "$(find "$work/queue/"{maildrop,incoming,active,deferred} -type f 2>/dev/null | head -n 1)" ]
}

run() {  # prints messages per second, from the first message sent to the last one relayed
  local start end
  start=$(date +%s.%N)
  /usr/sbin/smtp-source -s "$s" -m "$n" -l "$size" -f bench@client.example -t bob@home.example \
    "127.0.0.1:$smtp_port"
  for _ in $(seq 6000); do queue_empty && break; sleep 0.01; done
  queue_empty || { echo "bench_milter: messages left in the queue" >&2; exit 1; }
  end=$(date +%s.%N)
  python3 -c "print(f'{$n / ($end - $start):.0f}')"
}
cpu_ticks() { awk '{print $14 + $15}' "/proc/$milter_pid/stat"; }

echo "molvex-milter bench: $n messages of $size bytes over $s sessions, $rounds rounds"
plain=(); milter=(); ticks=0
for round in $(seq "$rounds"); do
  fresh ""; plain+=("$(run)")
  fresh "$postfix_spec"; before=$(cpu_ticks); milter+=("$(run)"); ticks=$((ticks + $(cpu_ticks) - before))
  echo "round $round: without ${plain[-1]}, with ${milter[-1]} messages/s"
done
python3 - "${plain[*]}" "${milter[*]}" "$ticks" "$(getconf CLK_TCK)" "$((n * rounds))" <<'PY'
import statistics, sys
plain, milter = ([float(x) for x in a.split()] for a in sys.argv[1:3])
ticks, hz, messages = (int(x) for x in sys.argv[3:6])
p, m = statistics.median(plain), statistics.median(milter)
print(f"median: without the milter {p:.0f}, with {m:.0f} messages/s: {100 * m / p:.0f} % kept")
print(f"milter CPU time: {1000 * ticks / hz / messages:.2f} ms per message")
PY
kill -USR1 "$milter_pid"; sleep 0.5
echo "milter $(grep 'counters:' "$work/milter.log" | tail -n 1 | sed 's/^molvex-milter: //')"
tempfails=$(grep -c "decision=tempfail\|too many messages" "$work/milter.log" || true)
echo "milter log lines with deferrals: $tempfails"
