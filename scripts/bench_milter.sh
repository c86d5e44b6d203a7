#!/usr/bin/env bash
# Throughput of a private Postfix instance with and without molvex-milter in front: smtp-source
# sends N messages over S sessions to Postfix on 127.0.0.1, which relays them to smtp-sink.
# Prints messages per second for both runs and the milter's time per message (its counters).
# Needs root and Postfix (smtp-source, smtp-sink); touches nothing of the system's Postfix.
#
#   scripts/bench_milter.sh [N [S [SIZE]]]     (default 2000 messages, 10 sessions, 4096 bytes)
set -euo pipefail
n=${1:-2000}; s=${2:-10}; size=${3:-4096}
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
  rm -rf "$work"
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

run() {  # prints messages per second
  local start end
  start=$(date +%s.%N)
  /usr/sbin/smtp-source -s "$s" -m "$n" -l "$size" -f bench@client.example -t bob@home.example \
    "127.0.0.1:$smtp_port"
  end=$(date +%s.%N)
  python3 -c "print(f'{$n / ($end - $start):.0f}')"
}
echo "molvex-milter bench: $n messages of $size bytes over $s sessions"
echo "without the milter: $(run) messages/s"
/usr/sbin/postconf -c "$work/etc" -e "smtpd_milters = $postfix_spec"
/usr/sbin/postfix -c "$work/etc" reload >/dev/null; sleep 1
echo "with the milter:    $(run) messages/s"
kill -USR1 "$milter_pid"; sleep 0.5
echo "milter $(grep 'counters:' "$work/milter.log" | tail -n 1 | sed 's/^molvex-milter: //')"
tempfails=$(grep -c "decision=tempfail\|too many messages" "$work/milter.log" || true)
echo "milter log lines with deferrals: $tempfails"
