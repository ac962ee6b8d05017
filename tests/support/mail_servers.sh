#!/usr/bin/env bash
# Starts and stops the mail services the mail tests talk to, all on loopback:
#   - a Dovecot IMAP server with its own configuration, users in a passwd-file
#     (edi-receive and edi-failure, password "secret");
#   - an SMTP server (aiosmtpd) that stores every mail it accepts in a Maildir;
#   - a port that accepts connections and never answers, and a port nobody listens on.
# Usage: mail_servers.sh start|stop STATE_DIR
# start writes STATE_DIR/servers.env (key=value lines) for the tests to read.
# Ports are picked free at start, so parallel builds do not collide. Every server is
# also stopped by a watchdog after 30 minutes in case stop never runs.
set -euo pipefail

action=${1:?start or stop}
state=${2:?state folder}
python=/usr/bin/python3
[ -x "$python" ] || python=python3

stop_servers() {
    [ -f "$state/servers.env" ] || return 0
    local run
    run=$(sed -n 's/^run=//p' "$state/servers.env")
    local pids=()
    for f in "$run/base/master.pid" "$run/smtp.pid" "$run/silent.pid" "$run/watchdog.pid"; do
        [ -f "$f" ] && pids+=("$(cat "$f")")
    done
    # The helpers were started with setsid: their process groups go with them.
    for f in "$run/smtp.pid" "$run/silent.pid" "$run/watchdog.pid"; do
        [ -f "$f" ] && kill -TERM -- "-$(cat "$f")" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for _ in $(seq 50); do
        local alive=0
        for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
        [ "$alive" -eq 0 ] && break
        sleep 0.1
    done
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    case "$run" in /tmp/k500100-mail-*) rm -rf "$run" ;; esac
    rm -f "$state/servers.env"
}

if [ "$action" = stop ]; then
    stop_servers
    exit 0
fi
[ "$action" = start ] || { echo "unknown action $action" >&2; exit 2; }

mkdir -p "$state"
stop_servers
run=$(mktemp -d /tmp/k500100-mail-XXXXXX)
chmod 755 "$run"
mkdir -p "$run/base" "$run/state" "$run/mail" "$run/home" "$run/smtp/new" "$run/smtp/cur" "$run/smtp/tmp"
# One IMAP user per test that needs one, so tests running side by side never share an inbox.
for user in edi-receive edi-failure; do
    echo "$user:{PLAIN}secret::::::"
done > "$run/passwd"
chmod 644 "$run/passwd"

read -r imap_port smtp_port silent_port refused_port < <("$python" - <<'PY'
import socket
socks = []
for _ in range(4):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    socks.append(s)
print(" ".join(str(s.getsockname()[1]) for s in socks))
for s in socks:
    s.close()
PY
)

uid=$(id -u)
gid=$(id -g)
if [ "$uid" -eq 0 ]; then
    # Dovecot never opens mail as root: the mail belongs to nobody.
    login_user=dovenull
    internal_user=dovecot
    uid=$(id -u nobody)
    gid=$(id -g nobody)
    chown "$uid:$gid" "$run/mail" "$run/home"
else
    login_user=$(id -un)
    internal_user=$(id -un)
fi

cat > "$run/dovecot.conf" <<CONF
base_dir = $run/base
state_dir = $run/state
log_path = $run/dovecot.log
protocols = imap
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain login
auth_failure_delay = 1 secs
# No growing delay after repeated failures from the tests' own address.
login_trusted_networks = 127.0.0.0/8
mail_location = maildir:$run/mail/%u
default_internal_user = $internal_user
default_login_user = $login_user
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $run/passwd
}
userdb {
  driver = static
  args = uid=$uid gid=$gid home=$run/home/%u
}
service imap-login {
  inet_listener imap {
    address = 127.0.0.1
    port = $imap_port
  }
  inet_listener imaps {
    port = 0
  }
}
CONF

cat > "$state/servers.env" <<ENV
run=$run
imap_port=$imap_port
smtp_port=$smtp_port
silent_port=$silent_port
refused_port=$refused_port
passwd=$run/passwd
imap_mail=$run/mail
smtp_maildir=$run/smtp
dovecot_conf=$run/dovecot.conf
ENV

/usr/sbin/dovecot -c "$run/dovecot.conf" </dev/null >"$run/dovecot.out" 2>&1

setsid "$python" -m aiosmtpd -n -l "127.0.0.1:$smtp_port" -c aiosmtpd.handlers.Mailbox "$run/smtp" \
    >"$run/smtp.log" 2>&1 < /dev/null &
echo $! > "$run/smtp.pid"

setsid "$python" -c '
import socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", int(sys.argv[1])))
s.listen(16)
time.sleep(3600)
' "$silent_port" >/dev/null 2>&1 < /dev/null &
echo $! > "$run/silent.pid"

pids="$(cat "$run/smtp.pid") $(cat "$run/silent.pid")"
setsid bash -c "sleep 1800; kill \$(cat '$run/base/master.pid' 2>/dev/null) $pids 2>/dev/null" \
    >/dev/null 2>&1 < /dev/null &
echo $! > "$run/watchdog.pid"

# Ready when the IMAP and SMTP ports greet.
if ! "$python" - "$imap_port" "$smtp_port" <<'PY'
import socket, sys, time
deadline = time.time() + 15
for port in map(int, sys.argv[1:]):
    while True:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=2) as c:
                c.settimeout(2)
                if c.recv(64):
                    break
        except OSError:
            pass
        if time.time() > deadline:
            sys.exit("port %d does not answer" % port)
        time.sleep(0.1)
PY
then
    cat "$run/dovecot.log" "$run/smtp.log" >&2 || true
    stop_servers
    exit 1
fi
echo "mail servers: imap $imap_port, smtp $smtp_port, silent $silent_port, refused $refused_port ($run)"
