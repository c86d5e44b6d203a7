#!/usr/bin/env bash
# molvex-milter in a live mail flow: a private Postfix instance (its own configuration, queue and
# data folders under a temporary folder, on free ports of 127.0.0.1) hands every message to the
# milter and relays what it accepts to smtp-sink, which writes each message to a file. Checks
# rejections, header fields, a reload after a list change, and Postfix's milter_default_action
# while the milter is down. Never touches the system's Postfix. Exit 77 (skipped) when Postfix is
# not installed or the run lacks the root rights Postfix needs to start.
#
#   tests/milter_postfix_e2e.sh MOLVEX_MILTER SAMPLES_FOLDER
set -euo pipefail

milter_bin=$1
samples=$2
for tool in /usr/sbin/postfix /usr/sbin/smtp-sink /usr/lib/postfix/sbin/master; do
  [ -x "$tool" ] || { echo "skipped: $tool is not installed"; exit 77; }
done
[ "$(id -u)" -eq 0 ] || { echo "skipped: starting a Postfix instance needs root"; exit 77; }
getent passwd postfix >/dev/null || { echo "FAIL: no postfix user (mail_owner)"; exit 1; }

work=$(mktemp -d /tmp/molvex-postfix.XXXXXX)
chmod 755 "$work"
milter_pid=""
sink_pid=""
postfix_up=0
cleanup() {
  local status=$?
  [ "$postfix_up" -eq 1 ] && /usr/sbin/postfix -c "$work/etc" stop >/dev/null 2>&1 || true
  [ -n "$milter_pid" ] && kill "$milter_pid" 2>/dev/null && wait "$milter_pid" 2>/dev/null || true
  [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null && wait "$sink_pid" 2>/dev/null || true
  if [ "$status" -ne 0 ]; then
    echo "--- milter log"; cat "$work/milter.log" 2>/dev/null || true
    echo "--- postfix log"; tail -n 40 "$work/maillog" 2>/dev/null || true
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; exit 1; }

. "$(dirname "$0")/../scripts/private_postfix.sh"

# Sends a sample (its From: is kept, the envelope is fixed) and prints the server's reply to DATA:
# "250 ..." when accepted, the rejection's code and text otherwise.
send() {
  python3 - "$smtp_port" "$1" <<'PY'
import smtplib, sys
data = open(sys.argv[2], "rb").read()
try:
    with smtplib.SMTP("127.0.0.1", int(sys.argv[1]), timeout=30) as smtp:
        smtp.sendmail("sender@client.example", ["bob@home.example"], data)
    print("250 accepted")
except smtplib.SMTPRecipientsRefused as e:
    code, text = list(e.recipients.values())[0]
    print(code, text.decode(errors="replace"))
except smtplib.SMTPResponseException as e:
    print(e.smtp_code, e.smtp_error.decode(errors="replace"))
PY
}

# Waits up to 30 s for smtp-sink to have written a message that holds $1; prints that file.
delivered() {
  local deadline=$((SECONDS + 30)) file
  while [ $SECONDS -lt $deadline ]; do
    file=$(grep -l -F -- "$1" "$work"/sink/* 2>/dev/null | head -n 1 || true)
    [ -n "$file" ] && { cat "$file"; return 0; }
    sleep 0.2
  done
  return 1
}

start_milter() {
  "$milter_bin" --foreground -c "$work/milter.conf" --socket "inet:$milter_port@127.0.0.1" \
    >>"$work/milter.log" 2>&1 &
  milter_pid=$!
  wait_port "$milter_port" || return 1
}

mkdir -p "$work/sink"
chown postfix "$work/sink"
echo '*@spammer.example' >"$work/black.txt"
cat >"$work/milter.conf" <<CONF
/molvex/lists/SenderBlacklist = $work/black.txt
CONF

# Ports are picked free, then taken by three programs: a race lost to another program is retried.
started=0
for attempt in 1 2 3; do
  smtp_port=$(free_port); milter_port=$(free_port); sink_port=$(free_port)
  /usr/sbin/smtp-sink -u postfix -h sink.example -d "$work/sink/%M." "127.0.0.1:$sink_port" 50 \
    >>"$work/sink.log" 2>&1 &
  sink_pid=$!
  if ! start_milter || ! wait_port "$sink_port"; then
    kill "$milter_pid" "$sink_pid" 2>/dev/null || true
    wait "$milter_pid" "$sink_pid" 2>/dev/null || true
    milter_pid=""; sink_pid=""
    continue
  fi
  private_postfix_config "$work" molvex-e2e "$smtp_port" "$sink_port" \
    "inet:127.0.0.1:$milter_port"
  if /usr/sbin/postfix -c "$work/etc" start >>"$work/postfix-start.log" 2>&1; then
    postfix_up=1
    if wait_port "$smtp_port"; then started=1; break; fi
    /usr/sbin/postfix -c "$work/etc" stop >/dev/null 2>&1 || true
    postfix_up=0
  fi
  kill "$milter_pid" "$sink_pid" 2>/dev/null || true
  wait "$milter_pid" "$sink_pid" 2>/dev/null || true
  milter_pid=""; sink_pid=""
done
[ "$started" -eq 1 ] || { cat "$work/postfix-start.log" "$work/sink.log"; fail "Postfix did not start"; }

expect_reply() {  # SAMPLE CODE TEXT...
  local reply
  reply=$(send "$samples/$1")
  case "$reply" in
    "$2"*) ;;
    *) fail "$1: expected $2, got: $reply" ;;
  esac
  for word in "${@:3}"; do
    [[ "$reply" == *"$word"* ]] || fail "$1: reply without '$word': $reply"
  done
  echo "ok: $1 -> $reply"
}

expect_reply 02-gtube-text.eml 550 5.7.1 gtube
expect_reply 10-blacklisted-sender.eml 550 5.7.1 blacklisted
expect_reply 01-clean.eml 250
delivered "sample-1@" | grep -q "^X-Molvex-Status: No" || fail "clean message without X-Molvex-Status: No"
expect_reply 08-listed-url.eml 250
delivered "sample-8@" | grep -q "^X-Molvex-Status: Yes" || fail "listed URL not tagged"

# A list change and SIGHUP: the clean message's sender is now black-listed.
printf '*@spammer.example\n*@friends.example\n' >"$work/black.txt"
kill -HUP "$milter_pid"
for _ in $(seq 100); do grep -q "reloaded" "$work/milter.log" && break; sleep 0.1; done
grep -q "reloaded" "$work/milter.log" || fail "no reload after SIGHUP"
expect_reply 01-clean.eml 550 blacklisted

# The milter down: Postfix applies milter_default_action (tempfail); restarted, it serves again.
kill -KILL "$milter_pid"; wait "$milter_pid" 2>/dev/null || true
milter_pid=""
expect_reply 02-gtube-text.eml 4
start_milter || fail "the milter did not restart on port $milter_port"
expect_reply 02-gtube-text.eml 550 gtube
kill -USR1 "$milter_pid"
for _ in $(seq 50); do grep -q "counters:" "$work/milter.log" && break; sleep 0.1; done
grep "counters:" "$work/milter.log" || fail "no counters after SIGUSR1"
echo "PASS"
