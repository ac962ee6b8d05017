#!/usr/bin/env bash
# End to end: the demo environment, k500100-batch run on it twice, then the received files,
# the archive copies, the history rows and ERR.LOG checked; then the faults: the registration
# program missing and the archive folder missing.
#   batch_e2e.sh REPO BIN_DIR
set -uo pipefail
repo=$1
bin=$2
work=$(mktemp -d /tmp/k500100-e2e-XXXXXX)
trap 'rm -rf "$work"' EXIT
demo=$work/demo
failures=0
check() {  # check WHAT EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then
        echo "FAIL: $1"
        echo "  expected: $2"
        echo "  actual:   $3"
        failures=$((failures + 1))
    fi
}
history() {
    sqlite3 -separator ' ' "$demo/db/k500100.sqlite" \
        "SELECT 通番, 枝番, 処理種別, センターコード, 終了コード, 詳細コード FROM FL1102処理履歴ファイル WHERE 通番 BETWEEN $1 AND $2 ORDER BY 通番, 枝番"
}
run_batch() {
    ODBCINI="$demo/db/odbc.ini" "$demo/k500100/bin/k500100-batch" "$@" >"$work/out.txt" 2>&1
    echo $?
}

"$repo/scripts/demo-env" "$demo" "$bin" || { echo "FAIL: demo-env"; exit 1; }
check "first run exits 1 while a conversion fails" 1 "$(run_batch '  OP01  ')"
check "operator code trimmed" "terminal $(python3 -c 'import socket; print(socket.gethostname())'), operator OP01, 3 center(s)" "$(head -1 "$work/out.txt")"
check "one line per center with the three cells" "CIILINK	CII リンク受信センター	OK	変換ｴﾗｰ	-
CIIMAIL	CII メール受信センター	OK	変換ｴﾗｰ	-
XMLLINK	XML リンク受信センター	OK	変換ｴﾗｰ	-" "$(tail -3 "$work/out.txt")"
check "received files" "00000001_RCV_CIILINK_____.CII
00000002_RCV_CIIMAIL_____.CII
00000003_RCV_XMLLINK_____.XML" "$(ls "$demo/in")"
check "archive copies" "$(ls "$demo/in")" "$(ls "$demo/old")"
check "link package files taken over" "orders.txt" "$(ls "$demo/link")"
check "the mail attachment is the message" "$(cmp -s "$demo/in/00000002_RCV_CIIMAIL_____.CII" "$demo/old/00000001_RCV_CIILINK_____.CII" && echo same)" "same"
check "history of the first run" "1 0 03 CIILINK 9999 0000
1 1 10 CIILINK 0000 0000
1 2 31 CIILINK 0000 0000
2 0 03 CIIMAIL 9999 0000
2 1 10 CIIMAIL 0000 0000
2 2 31 CIIMAIL 0000 0000
3 0 03 XMLLINK 9999 0000
3 1 10 XMLLINK 0000 0000
3 2 34 XMLLINK 0000 0000
3 3 31 XMLLINK 0000 0000" "$(history 1 3)"
check "ERR.LOG names every failed conversion" 4 "$(grep -c 'not converted' "$demo/k500100/bin/ERR.LOG")"

# Second run: fresh input files, new serials.
"$repo/scripts/demo-env" "$demo" "$bin" || { echo "FAIL: demo-env again"; exit 1; }
check "second run exits 1 again" 1 "$(run_batch OP01)"
check "second run numbers its jobs 4 to 6" "4 0 03 CIILINK 9999 0000
5 0 03 CIIMAIL 9999 0000
6 0 03 XMLLINK 9999 0000" "$(history 4 6 | grep ' 0 03 ')"
check "second run's files" 6 "$(ls "$demo/old" | wc -l)"

# Archive folder missing: the job still closes its history, ERR.LOG says why.
"$repo/scripts/demo-env" "$demo" "$bin" >/dev/null
sed -i "s|^OLD_FILE=.*|OLD_FILE=$work/no-archive/|" "$demo/EDI.ini"
check "archive folder missing still runs" 1 "$(run_batch OP01)"
check "jobs closed despite the archive" "7 0 03 CIILINK 9999 0000" "$(history 7 7 | head -1)"
check "ERR.LOG names the missing archive" 1 "$([ "$(grep -c 'no-archive' "$demo/k500100/bin/ERR.LOG")" -ge 1 ] && echo 1)"
check "received file kept" yes "$([ -f "$demo/in/00000007_RCV_CIILINK_____.CII" ] && echo yes)"

# No center for this terminal: the no-data message and exit 1.
sqlite3 "$demo/db/k500100.sqlite" "UPDATE FL1903EDI制御マスタ SET 実行端末名 = 'elsewhere'"
check "no center exits 1" 1 "$(run_batch OP01)"
check "no center message" "k500100-batch: 該当するデータがありませんでした" "$(cat "$work/out.txt")"

[ "$failures" -eq 0 ] && echo "all checks passed"
exit "$failures"
