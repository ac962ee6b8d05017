#!/usr/bin/env bash
# The Debian package on this machine: built (packaging/build-deb), checked by lintian,
# installed with dpkg -i; its tree, units and logrotate rule checked; the installed
# k500100-batch run as the unit runs it on a demo environment in the package's folders with
# the installed sample EDI.ini; then purged, and nothing of it may be left.
#   package_test.sh REPO BUILD_DIR
# Needs root; skipped (status 77) otherwise, or when a k500100 package is already installed.
set -uo pipefail
repo=$1
build=$2
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: the package test installs a package on this machine and needs root"
    exit 77
fi
if [ -n "$(dpkg-query -W -f='${db:Status-Abbrev}' k500100 2>/dev/null | grep -v '^[up]n')" ]; then
    echo "SKIPPED: a k500100 package is installed here and the test would purge it"
    exit 77
fi

failures=0
check() {  # check WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        printf 'FAIL: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
        failures=$((failures + 1))
    fi
}
phase() { echo "== $1 (${SECONDS}s)"; }
dpkg_waiting() {  # dpkg ARGS..., waiting while another dpkg or apt holds the lock
    local out status
    for _ in $(seq 120); do
        out=$(dpkg "$@" 2>&1)
        status=$?
        if [ "$status" -eq 0 ] || ! grep -q 'lock' <<<"$out"; then
            echo "$out"
            return "$status"
        fi
        sleep 5
    done
    echo "$out"
    return 1
}
# Paths below the trees a package writes to; what dpkg and apt keep about themselves and the
# logs of other programs change on their own.
snapshot() {
    find /etc /usr /opt /var/lib /var/log 2>/dev/null |
        grep -Ev '^/var/lib/(dpkg|apt|ucf|systemd)(/|$)|^/var/log/[^/]*$|^/etc/(passwd|group|shadow|gshadow|subuid|subgid)-?$' |
        sort
}
trap 'dpkg-query -W k500100 >/dev/null 2>&1 && dpkg_waiting --purge k500100 >/dev/null' EXIT

phase "build the package"
deb=$("$repo/packaging/build-deb" "$build/package") || { echo "FAIL: packaging/build-deb"; exit 1; }
check "one package built" 1 "$(wc -w <<<"$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libqt6core6 libqt6sql6 libqt6widgets6 libodbc2 libxml2 libvmime1 libqt6sql6-odbc libsqliteodbc adduser; do
    check "Depends names $library" yes "$(grep -Eq "(^|, )$library( |,|$)" <<<"$depends" && echo yes)"
done
check "EDI.ini and the logrotate rule are conffiles" "/etc/k500100/EDI.ini
/etc/logrotate.d/k500100" "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)"

phase "lintian"
if command -v lintian >/dev/null; then
    lintian_out=$(lintian "$deb" 2>/dev/null)
    echo "$lintian_out"
    check "lintian finds no errors" 0 "$(grep -c '^E:' <<<"$lintian_out")"
else
    echo "lintian is not installed: not run"
fi

phase "install"
before=$(snapshot)
dpkg_waiting -i "$deb" || { echo "FAIL: dpkg -i"; exit 1; }
bin=/usr/lib/k500100/edi/bin
for program in k500100 k500100-batch ediconv edidb edireg; do
    check "$bin/$program is a program" yes "$([ -x "$bin/$program" ] && [ -f "$bin/$program" ] && echo yes)"
done
for program in k500100 k500100-batch ediconv edidb; do
    check "/usr/bin/$program leads to the program" "$bin/$program" "$(readlink -f "/usr/bin/$program")"
done
check "EDI.ini two folder levels above the programs is the conffile" /etc/k500100/EDI.ini \
    "$(readlink -f "$bin/../../EDI.ini")"
check "EDI.ini readable by the service only" "640 root k500100" "$(stat -c '%a %U %G' /etc/k500100/EDI.ini)"
ini=$(iconv -f CP932 -t UTF-8 /etc/k500100/EDI.ini)
check "EDI.ini is Shift-JIS with the sections start-up reads" "[動作環境] [Setting0] [PATH] [COLOR]" \
    "$(grep -oE '^\[(動作環境|Setting0|PATH|COLOR)\]' <<<"$ini" | tr '\n' ' ' | sed 's/ $//')"
check "EDI.ini names the installed registration program" "MGCMDLINEZR=$bin/edireg" \
    "$(grep '^MGCMDLINEZR=' <<<"$ini")"
check "the schema" yes "$(cmp -s "$repo/db/schema.sql" /usr/share/k500100/schema.sql && echo yes)"
check "a system user of its own" yes "$(uid=$(id -u k500100) && [ "$uid" -lt 1000 ] && echo yes)"
for folder in /var/lib/k500100 /var/lib/k500100/in /var/log/k500100; do
    check "$folder belongs to the service user" "2770 k500100 k500100" "$(stat -c '%a %U %G' "$folder")"
done
unit=/lib/systemd/system/k500100-batch@.service
check "the service runs the installed runner" "ExecStart=$bin/k500100-batch %i" "$(grep '^ExecStart=' "$unit")"
if command -v systemd-analyze >/dev/null; then
    # Offline: there may be no running systemd. Instances of the templates are verified; an
    # unknown key or a value that does not parse is only a message naming the file.
    verify=$(cd / && systemd-analyze verify k500100-batch@DEMO01.service k500100-batch@DEMO01.timer 2>&1)
    status=$?
    check "systemd-analyze verify: exit 0, nothing about the units" 0 "$status$(grep k500100 <<<"$verify")"
else
    echo "systemd-analyze is not installed: units not verified"
fi
if command -v logrotate >/dev/null; then
    check "logrotate accepts the rule" 0 "$(logrotate -d /etc/logrotate.d/k500100 >/dev/null 2>&1; echo $?)"
fi

phase "the installed runner on a demo environment"
# The demo's database, masters, centers, link-package files and mail in the package's folders
# (made with the installed edidb and ediconv), then the run as the unit starts it.
"$repo/scripts/demo-env" /var/lib/k500100 "$bin" >/dev/null || { echo "FAIL: demo-env"; exit 1; }
chown -R k500100:k500100 /var/lib/k500100
user=$(sed -n 's/^User=//p' "$unit")
environment=$(sed -n 's/^Environment=//p' "$unit")
command=$(sed -n 's/^ExecStart=//p' "$unit" | sed 's/%i/DEMO01/')
# shellcheck disable=SC2086 # the unit's words
runuser -u "$user" -- env $environment $command >"$build/package/run.txt" 2>&1
check "the unit's run exits 0" 0 "$?"
check "every center received, converted and registered" "CIILINK OK OK OK|CIIMAIL OK OK OK|XMLLINK OK OK OK" \
    "$(tail -3 "$build/package/run.txt" | awk -F'\t' '{print $1, $3, $4, $5}' | paste -sd'|')"
check "local files in the receive folder" 3 "$(ls /var/lib/k500100/in/*0130.LOC 2>/dev/null | wc -l)"
check "ERR.LOG in /var/log/k500100" "k500100" "$(stat -c %U /var/log/k500100/ERR.LOG 2>&1)"
check "no ERR.LOG beside the programs" no "$([ -e "$bin/ERR.LOG" ] && echo yes || echo no)"
# An operator's run through /usr/bin finds the same EDI.ini.
"$repo/scripts/demo-env" /var/lib/k500100 "$bin" >/dev/null && chown -R k500100:k500100 /var/lib/k500100
check "a run through /usr/bin" 0 "$(runuser -u k500100 -- env $environment k500100-batch DEMO01 >/dev/null 2>&1; echo $?)"
check "its jobs registered" 6 "$(ls /var/lib/k500100/in/*0130.LOC 2>/dev/null | wc -l)"

phase "purge"
dpkg_waiting --purge k500100 >/dev/null || { echo "FAIL: dpkg --purge"; exit 1; }
check "nothing of the package is left" "" "$(diff <(echo "$before") <(snapshot) | grep '^[<>]')"
check "/var/log/k500100 is gone" no "$([ -e /var/log/k500100 ] && echo yes || echo no)"
check "the user and group are gone" "" "$(getent passwd k500100; getent group k500100)"

phase "done"
[ "$failures" -eq 0 ] && echo "all checks passed"
exit "$failures"
