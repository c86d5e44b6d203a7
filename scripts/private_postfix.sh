# A private Postfix instance for tests and benchmarks: sourced, not run. Its configuration,
# queue and data folders live under a folder of the caller's; it listens on 127.0.0.1 only and
# relays everything to a local sink. Never touches the system's instance.
#
#   . scripts/private_postfix.sh
#   private_postfix_config WORK NAME SMTP_PORT SINK_PORT [MILTERS]   # writes WORK/etc
#   free_port; wait_port PORT

# A port of 127.0.0.1 that nothing listens on now.
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# Waits up to 20 s for something to accept connections on a port of 127.0.0.1.
wait_port() {
  python3 - "$1" <<'PY'
import socket, sys, time
deadline = time.time() + 20
while time.time() < deadline:
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)
PY
}

private_postfix_config() {
  local work=$1 name=$2 smtp_port=$3 sink_port=$4 milters=${5:-}
  mkdir -p "$work/etc" "$work/queue" "$work/data"
  chown postfix "$work/data"
  cat >"$work/etc/main.cf" <<CONF
compatibility_level = 3.6
queue_directory = $work/queue
data_directory = $work/data
mail_owner = postfix
setgid_group = postdrop
syslog_name = $name
maillog_file = $work/maillog
maillog_file_prefixes = $work
myhostname = $name.localdomain
mydestination =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
smtpd_relay_restrictions = permit_mynetworks, reject
relayhost = [127.0.0.1]:$sink_port
alias_maps =
alias_database =
smtp_dns_support_level = disabled
smtpd_milters = $milters
milter_default_action = tempfail
CONF
  {
    echo "127.0.0.1:$smtp_port inet n - n - 100 smtpd"
    local svc
    for svc in "pickup unix n - n 60 1 pickup" "cleanup unix n - n - 0 cleanup" \
      "qmgr unix n - n 300 1 qmgr" "rewrite unix - - n - - trivial-rewrite" \
      "bounce unix - - n - 0 bounce" "defer unix - - n - 0 bounce" "trace unix - - n - 0 bounce" \
      "verify unix - - n - 1 verify" "flush unix n - n 1000? 0 flush" \
      "proxymap unix - - n - - proxymap" "smtp unix - - n - - smtp" "relay unix - - n - - smtp" \
      "showq unix n - n - - showq" "error unix - - n - - error" "retry unix - - n - - error" \
      "discard unix - - n - - discard" "anvil unix - - n - 1 anvil" "scache unix - - n - 1 scache" \
      "postlog unix-dgram n - n - 1 postlogd"; do echo "$svc"; done
  } >"$work/etc/master.cf"
}
