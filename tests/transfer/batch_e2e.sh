#!/usr/bin/env bash
# End to end: the demo environment, k500100-batch run on it twice, then the local files, the
# history rows, the archive copies and ERR.LOG checked; then the faults: the registration
# program missing and the archive folder missing; then a terminal without centers.
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
value() {  # value SERIAL BRANCH COLUMN
    sqlite3 "$demo/db/k500100.sqlite" "SELECT $3 FROM FL1102処理履歴ファイル WHERE 通番 = $1 AND 枝番 = $2"
}
run_batch() {
    ODBCINI="$demo/db/odbc.ini" "$demo/k500100/bin/k500100-batch" "$@" >"$work/out.txt" 2>"$work/err.txt"
    echo $?
}

"$repo/scripts/demo-env" "$demo" "$bin" || { echo "FAIL: demo-env"; exit 1; }
orders=$(wc -l <"$demo/link/orders.txt")
check "first run exits 0: every center ends well" 0 "$(run_batch '  OP01  ')"
check "operator code trimmed" "terminal $(python3 -c 'import socket; print(socket.gethostname())'), operator OP01, 3 center(s)" "$(head -1 "$work/out.txt")"
check "one line per center with the three cells" "CIILINK	CII リンク受信センター	OK	OK	OK
CIIMAIL	CII メール受信センター	OK	OK	OK
XMLLINK	XML リンク受信センター	OK	OK	OK" "$(tail -3 "$work/out.txt")"
check "files of the receive folder" "00000001_RCV_CIILINK_____.CII
00000001_RCV_CIILINK_____0130.LOC
00000002_RCV_CIIMAIL_____.CII
00000002_RCV_CIIMAIL_____0130.LOC
00000003_RCV_XMLLINK_____.CII
00000003_RCV_XMLLINK_____.XML
00000003_RCV_XMLLINK_____0130.LOC" "$(ls "$demo/in")"
check "archive copies" "$(ls "$demo/in")" "$(ls "$demo/old")"
check "link package files taken over" "orders.txt" "$(ls "$demo/link")"
for serial in 1 2; do
    local_file=$(ls "$demo"/in/0000000${serial}_RCV_*0130.LOC)
    check "local file $serial holds one line per order" "$orders" "$(grep -c $'\r$' "$local_file")"
    check "local file $serial lines are keyed by the kind" "$orders" "$(grep -c '^     0130      ' "$local_file")"
    # Order numbers and item codes of the partner's orders, in their columns of the local record.
    check "local file $serial is the partner's orders" "$(cut -c64-76,272-284 "$demo/link/orders.txt")" \
        "$(cut -c64-76,272-284 "$local_file")"
    check "archive copy $serial is whole" same "$(cmp -s "$local_file" "$demo/old/$(basename "$local_file")" && echo same)"
    check "registration counted job $serial" "$orders $orders PARTNER01    0130" \
        "$(value $serial 3 "入力レコード数 || ' ' || 出力レコード数 || ' ' || 相手先企業コード || ' ' || 取引情報区分")"
done
check "parameter file of job 1" "/[EDI]0130TXT='%EDI_IN%00000001_RCV_CIILINK_____0130.LOC'
/[EDI]OPERATOR='OP01'
/[EDI]STATUS_FILE='$demo/st/00000001_Z_IN_STATUS.TXT'
/[EDI]MAKER='PARTNER01'" "$(tr -d '\r' <"$demo/pr/EDI00000001.INI")"
check "history of the first run" "1 0 03 CIILINK 0000 0000
1 1 10 CIILINK 0000 0000
1 2 31 CIILINK 0000 0000
1 3 41 CIILINK 00 0000
2 0 03 CIIMAIL 0000 0000
2 1 10 CIIMAIL 0000 0000
2 2 31 CIIMAIL 0000 0000
2 3 41 CIIMAIL 00 0000
3 0 03 XMLLINK 0000 0000
3 1 10 XMLLINK 0000 0000
3 2 34 XMLLINK 0000 0000
3 3 31 XMLLINK 0000 0000
3 4 41 XMLLINK 00 0000" "$(history 1 3)"
check "the XML row carries the business process the last local conversion left" ORD00001 "$(value 3 2 BPID)"
check "ERR.LOG starts every local conversion" 3 "$(iconv -f CP932 -t UTF-8 "$demo/k500100/bin/ERR.LOG" | grep -c -- '--K800400 start--')"
check "ERR.LOG starts the XML conversion" 1 "$(iconv -f CP932 -t UTF-8 "$demo/k500100/bin/ERR.LOG" | grep -c -- '--K800300 start--00000003')"
# The XML center's message went XML -> CII -> local and holds the same orders.
check "local file of the XML center is the partner's orders" "$(cut -c64-76,272-284 "$demo/link/orders.txt")" \
    "$(cut -c64-76,272-284 "$demo/in/00000003_RCV_XMLLINK_____0130.LOC")"
check "registration counted the XML job" "$orders $orders" "$(value 3 4 "入力レコード数 || ' ' || 出力レコード数")"

# Second run: fresh input files, new serials.
"$repo/scripts/demo-env" "$demo" "$bin" || { echo "FAIL: demo-env again"; exit 1; }
check "second run exits 0 again" 0 "$(run_batch OP01)"
check "second run numbers its jobs 4 to 6" "4 0 03 CIILINK 0000 0000
5 0 03 CIIMAIL 0000 0000
6 0 03 XMLLINK 0000 0000" "$(history 4 6 | grep ' 0 03 ')"
check "second run's files archived" 14 "$(ls "$demo/old" | wc -l)"

# Registration program missing: its row says 4100/0002, the local files stay.
"$repo/scripts/demo-env" "$demo" "$bin" >/dev/null
sed -i "s|^MGCMDLINEZR=.*|MGCMDLINEZR=$work/nowhere/edireg|" "$demo/EDI.ini"
# The stage records the failure in its own row; the run's exit status and error lines tell it.
check "missing registration program" 1 "$(run_batch OP01)"
check "its stage row" "7 3 41 CIILINK 4100 0002" "$(history 7 7 | tail -1)"
check "one error line per job" "k500100-batch: CIILINK (job 7): 4100/0002 the registration program left no status file" \
    "$(grep -v '^edireg' "$work/err.txt" | grep CIILINK)"
check "local file kept" yes "$([ -f "$demo/in/00000007_RCV_CIILINK_____0130.LOC" ] && echo yes)"

# Archive folder missing: the jobs still close their history, ERR.LOG says why.
"$repo/scripts/demo-env" "$demo" "$bin" >/dev/null
sed -i "s|^OLD_FILE=.*|OLD_FILE=$work/no-archive/|" "$demo/EDI.ini"
check "archive folder missing still runs, and says so" 1 "$(run_batch OP01)"
check "jobs closed despite the archive" "10 0 03 CIILINK 0000 0000" "$(history 10 10 | head -1)"
check "ERR.LOG names the missing archive" yes "$(grep -q 'no-archive' "$demo/k500100/bin/ERR.LOG" && echo yes)"

# Every center well: exit 0.
"$repo/scripts/demo-env" "$demo" "$bin" >/dev/null
check "every center well exits 0" 0 "$(run_batch OP01)"

# Job 7 failed for the missing registration program, which is back: --carry-on converts and
# registers the file job 7 received, in a new job that names it; a second time is refused.
check "carry on a failed job" 0 "$(run_batch --carry-on 7 OP01)"
carried=$(sqlite3 "$demo/db/k500100.sqlite" "SELECT MAX(通番) FROM FL1102処理履歴ファイル")
check "the carrying-on job's rows" "$carried 0 03 CIILINK 0000 8102
$carried 1 10 CIILINK 0000 8102
$carried 2 31 CIILINK 0000 0000
$carried 3 41 CIILINK 00 0000" "$(history "$carried" "$carried")"
check "it names job 7" 7 "$(value "$carried" 0 最終シーケンス番号)"
check "its line" "job 7 carried on as CIILINK (job $carried): 0000 ended well" "$(grep '^job 7' "$work/out.txt")"
check "job 7's file taken over" "no yes" \
    "$([ -f "$demo/in/00000007_RCV_CIILINK_____.CII" ] && echo yes || echo no) $([ -f "$demo/in/$(printf %08d "$carried")_RCV_CIILINK_____.CII" ] && echo yes || echo no)"
check "no second carry-on" 2 "$(run_batch --carry-on 7 OP01)"
check "why not" "k500100-batch: job 7 cannot be carried on: job $carried took its received file over" "$(cat "$work/err.txt")"

# History rows that cannot be closed: the first job stays open, the run takes no further file,
# exits 5 and says why; once they can, the next run carries the job on.
"$repo/scripts/demo-env" "$demo" "$bin" >/dev/null
first=$(( $(sqlite3 "$demo/db/k500100.sqlite" "SELECT MAX(通番) FROM FL1102処理履歴ファイル") + 1 ))
sqlite3 "$demo/db/k500100.sqlite" "CREATE TRIGGER refuse_close BEFORE UPDATE ON FL1102処理履歴ファイル BEGIN SELECT RAISE(ABORT, 'closing rows refused'); END;"
check "refused closes stop the run, exit 5" 5 "$(run_batch OP01)"
check "the run says why" "k500100-batch: the run stopped after job $first of center CIILINK, which stays open for the next run to carry on: database error: updating FL1102処理履歴ファイル: [SQLite]closing rows refused (19); no further file was taken" \
    "$(tail -1 "$work/err.txt" | sed 's/ \[SQL: .*\]//')"
check "no further file taken" yes "$([ -f "$demo/link/XMLLINK.XML" ] && echo yes)"
sqlite3 "$demo/db/k500100.sqlite" "DROP TRIGGER refuse_close"
"$repo/scripts/demo-env" "$demo" "$bin" >/dev/null
check "the next run ends well" 0 "$(run_batch OP01)"
check "and carries the job on" "$first 0 03 CIILINK 0000 8100" "$(history "$first" "$first" | head -1)"

# No center for this terminal: the no-data message and exit 1.
sqlite3 "$demo/db/k500100.sqlite" "UPDATE FL1903EDI制御マスタ SET 実行端末名 = 'elsewhere'"
check "no center: could not start, exit 2" 2 "$(run_batch OP01)"
check "no center message" "k500100-batch: 該当するデータがありませんでした (EDI.ini: $demo/EDI.ini, data source: K500100)" \
    "$(cat "$work/err.txt")"

# The database held by another process: start-up waits the busy wait, then shows its fixed
# message, with the reason on a line of its own. The file keeps a write-ahead log, which lets
# readers through a writer's transaction: the holder takes the file in exclusive locking mode.
sqlite3 "$demo/db/k500100.sqlite" "PRAGMA locking_mode = EXCLUSIVE;" "BEGIN EXCLUSIVE;" ".shell touch '$work/held'; sleep 30" "COMMIT;" &
holder=$!
while [ ! -e "$work/held" ]; do sleep 0.1; done
started=$(date +%s)
check "busy database: could not start, exit 2" 2 "$(run_batch OP01)"
check "busy database within the busy wait" yes "$([ $(($(date +%s) - started)) -lt 25 ] && echo yes)"
check "busy database message" "k500100-batch: 該当するデータがありませんでした (EDI.ini: $demo/EDI.ini, data source: K500100)" \
    "$(grep -v 'is busy' "$work/err.txt")"
check "busy database reason" "k500100-batch: the database is busy: reading FL1903EDI制御マスタ: [SQLite]database is locked (5)" \
    "$(grep 'is busy' "$work/err.txt" | sed 's/ \[SQL: .*//')"
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null

# A data source that does not exist: the fixed message, then the driver manager's reason.
sed -i "s|^DBSTRING=.*|DBSTRING=NOSUCHSOURCE|" "$demo/EDI.ini"
check "unknown data source: could not start, exit 2" 2 "$(run_batch OP01)"
check "unknown data source message" "k500100-batch: 接続エラー (EDI.ini: $demo/EDI.ini, data source: NOSUCHSOURCE)" \
    "$(head -1 "$work/err.txt")"
check "unknown data source reason" yes \
    "$(sed -n 2p "$work/err.txt" | grep -q '^k500100-batch: cannot connect to the database (data source NOSUCHSOURCE, .*Data source name not found' && echo yes)"

[ "$failures" -eq 0 ] && echo "all checks passed"
exit "$failures"
