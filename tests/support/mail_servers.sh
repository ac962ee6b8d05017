#!/usr/bin/env bash
# Starts and stops the mail services the mail tests talk to, all on loopback:
#   - a certificate authority made with openssl, and server certificates from it;
#   - a Dovecot IMAP server with its own configuration, users in a passwd-file
#     (edi-receive, edi-failure, edi-tls, edi-rules, edi-bench: password "secret"; edi-plain:
#     "never-in-clear"; edi-bench's mails in mdbox, the others' in Maildir),
#     STARTTLS on the imap port and TLS on the imaps port, on several loopback addresses:
#     127.0.0.1 the CA's certificate, .2 a self-signed one, .3 an expired one, .4 one for
#     another host name, .5 no TLS at all. What clients send before logging on is recorded
#     in the rawlog folder;
#   - SMTP servers (tests/support/smtp_servers.py) that store every mail in a Maildir;
#   - a port that accepts connections and never answers, and a port nobody listens on.
# remote_host in servers.env is this machine's name when it resolves to loopback: a host the
# program does not count as loopback by its name, yet served by these servers.
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
mkdir -p "$run/base" "$run/state" "$run/mail" "$run/mdbox" "$run/home" "$run/smtp/new" "$run/smtp/cur" "$run/smtp/tmp"
# One IMAP user per test that needs one, so tests running side by side never share an inbox.
for user in edi-receive edi-failure edi-tls edi-rules; do
    echo "$user:{PLAIN}secret::::::"
done > "$run/passwd"
echo "edi-plain:{PLAIN}never-in-clear::::::" >> "$run/passwd"
# The benchmark's user keeps its mails in mdbox, Dovecot's indexed format, so that opening
# a mailbox of many mails costs the server little and the run measures the client.
echo "edi-bench:{PLAIN}secret::::::userdb_mail=mdbox:$run/mdbox/edi-bench" >> "$run/passwd"
chmod 644 "$run/passwd"

# This machine's name, when it resolves to loopback addresses only.
read -r remote_host remote_addrs < <("$python" - <<'PY'
import socket
name = socket.gethostname()
try:
    addrs = sorted({ai[4][0] for ai in socket.getaddrinfo(name, None, socket.AF_INET)})
except OSError:
    addrs = []
if name and name.lower() != "localhost" and addrs and all(a.startswith("127.") for a in addrs):
    print(name, ",".join(addrs))
else:
    print("- -")
PY
)
[ "$remote_host" = - ] && remote_host= && remote_addrs=

# The test CA and its server certificates.
pki="$run/pki"
mkdir -p "$pki"
: > "$pki/index.txt"
echo 01 > "$pki/serial"
cat > "$pki/ca.cnf" <<CNF
[ ca ]
default_ca = test_ca
[ test_ca ]
database = $pki/index.txt
new_certs_dir = $pki
serial = $pki/serial
default_md = sha256
policy = any
unique_subject = no
[ any ]
commonName = supplied
[ req ]
distinguished_name = dn
[ dn ]
CNF
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/ca.key" -out "$pki/ca.pem" -days 30 \
    -subj "/CN=K500100 test CA" -addext basicConstraints=critical,CA:true \
    -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
issue() {  # name subjectAltName not-before not-after
    openssl req -new -newkey rsa:2048 -nodes -keyout "$pki/$1.key" -out "$pki/$1.csr" -subj "/CN=$1" \
        -config "$pki/ca.cnf" 2>/dev/null
    printf 'subjectAltName=%s\nbasicConstraints=CA:false\nextendedKeyUsage=serverAuth\n' "$2" > "$pki/$1.ext"
    openssl ca -batch -notext -config "$pki/ca.cnf" -cert "$pki/ca.pem" -keyfile "$pki/ca.key" \
        -startdate "$3" -enddate "$4" -extfile "$pki/$1.ext" -in "$pki/$1.csr" -out "$pki/$1.pem" 2>/dev/null
}
from=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)
until=$(date -u -d '+30 days' +%Y%m%d%H%M%SZ)
issue good "DNS:localhost,IP:127.0.0.1${remote_host:+,DNS:$remote_host}" "$from" "$until"
issue expired "DNS:localhost,IP:127.0.0.3" 20200101000000Z 20210101000000Z
issue wronghost "DNS:mail.other.example" "$from" "$until"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/selfsigned.key" -out "$pki/selfsigned.pem" -days 30 \
    -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost,IP:127.0.0.2" 2>/dev/null
chmod 644 "$pki"/*.pem "$pki"/*.key
mkdir -p "$run/rawlog"
chmod 777 "$run/rawlog"

listen="127.0.0.1, 127.0.0.2, 127.0.0.3, 127.0.0.4, 127.0.0.5"
for addr in ${remote_addrs//,/ }; do
    case ", $listen," in *", $addr,"*) ;; *) listen="$listen, $addr" ;; esac
done

read -r imap_port imaps_port smtp_port starttls_port smtps_port silent_port refused_port < <("$python" - <<'PY'
import socket
socks = []
for _ in range(7):
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
    chown "$uid:$gid" "$run/mail" "$run/mdbox" "$run/home"
else
    login_user=$(id -un)
    internal_user=$(id -un)
fi

cat > "$run/dovecot.conf" <<CONF
base_dir = $run/base
state_dir = $run/state
log_path = $run/dovecot.log
protocols = imap
listen = $listen
ssl = yes
ssl_cert = <$pki/good.pem
ssl_key = <$pki/good.key
# The server itself lets logons without TLS through: keeping the password off a plain
# connection is the client's work, and the tests check it does.
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
local 127.0.0.2 {
  ssl_cert = <$pki/selfsigned.pem
  ssl_key = <$pki/selfsigned.key
}
local 127.0.0.3 {
  ssl_cert = <$pki/expired.pem
  ssl_key = <$pki/expired.key
}
local 127.0.0.4 {
  ssl_cert = <$pki/wronghost.pem
  ssl_key = <$pki/wronghost.key
}
local 127.0.0.5 {
  ssl = no
}
service imap-login {
  executable = imap-login -R $run/rawlog
  chroot =
  inet_listener imap {
    port = $imap_port
  }
  inet_listener imaps {
    port = $imaps_port
    ssl = yes
  }
}
CONF

cat > "$state/servers.env" <<ENV
run=$run
imap_port=$imap_port
imaps_port=$imaps_port
smtp_port=$smtp_port
starttls_port=$starttls_port
smtps_port=$smtps_port
silent_port=$silent_port
refused_port=$refused_port
passwd=$run/passwd
imap_mail=$run/mail
mdbox=$run/mdbox
smtp_maildir=$run/smtp
dovecot_conf=$run/dovecot.conf
pki=$pki
rawlog=$run/rawlog
smtp_auth_log=$run/smtp-auth.log
remote_host=$remote_host
ENV

/usr/sbin/dovecot -c "$run/dovecot.conf" </dev/null >"$run/dovecot.out" 2>&1

plain_addrs=127.0.0.1
for addr in ${remote_addrs//,/ }; do [ "$addr" = 127.0.0.1 ] || plain_addrs="$plain_addrs,$addr"; done
setsid "$python" "$(dirname "$0")/smtp_servers.py" "$run/smtp" "$run/smtp-auth.log" "$pki/good.pem" \
    "$pki/good.key" "$plain_addrs" "$smtp_port" "$starttls_port" "$smtps_port" \
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
if ! "$python" - "$imap_port" "$smtp_port" "$starttls_port" <<'PY'
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
echo "mail servers: imap $imap_port/$imaps_port, smtp $smtp_port/$starttls_port/$smtps_port," \
    "silent $silent_port, refused $refused_port, remote host ${remote_host:-none} ($run)"
