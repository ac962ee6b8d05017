#include "transfer/ProcessHistory.h"

#include <charconv>
#include <exception>
#include <limits>

#include "convert/codec/Codec.h"
#include "startup/DbSession.h"

namespace edi {

namespace {

constexpr const char* kOk = "0000";
constexpr const char* kFailure = "9999";

// The highest 通番 in the table, 0 when it is empty; nothing on a database failure. The
// statement asks for the first row only, which the primary key's index gives at once
// however long the history is.
std::optional<std::int64_t> HighestSerial(WorkArea& work) {
    work.SqlText = "SELECT 通番 FROM FL1102処理履歴ファイル ORDER BY 通番 DESC, 枝番 DESC LIMIT 1";
    ResultSet result;
    if (!OpenQuery(work, result)) return std::nullopt;
    std::optional<std::int64_t> highest = 0;
    if (!result.EndOfSet()) highest = ToNumber(result.Value(history_col::kSerial));
    result.Close();
    return highest;
}

bool InsertRow(WorkArea& work, const HistoryStart& record, std::int16_t branch, const Clock& clock) {
    const LocalDateTime now = clock.Now();
    work.SqlText =
        "INSERT INTO FL1102処理履歴ファイル ( 通番 ,枝番 ,送受信種別 ,相手先種別 ,処理種別 ,処理開始日付 "
        ",処理開始時刻 ,センターコード ) VALUES  ( " +
        std::to_string(record.通番) + " ," + std::to_string(branch) + " ," + SqlQuote(record.送受信種別) + " ," +
        SqlQuote(record.相手先種別) + " ," + SqlQuote(record.処理種別) + " ," + SqlDate(now) + " ," + SqlTime(now) +
        " ," + SqlQuote(record.センターコード) + " );";
    return ExecuteSql(work);
}

// After a failed insert: only a number another terminal took first is worth another attempt;
// a busy or lost database or any other failure ends the open at once.
bool NumberTaken(const WorkArea& work) { return work.Db && work.Db->LastFailure() == DbFailure::kTaken; }

// Every attempt found its number taken: the one report of the open's failure.
void ReportTakenNumbers(WorkArea& work, std::string_view row) {
    WriteErrorLog(work.Log, 9999,
                  "the key is already taken: adding a " + std::string(row) + " row to FL1102処理履歴ファイル: " +
                      std::to_string(kHistoryInsertAttempts) + " numbers in a row were taken by other terminals",
                  1);
}

void SpaceIfEmpty(std::string& field) {
    if (field.empty()) field = " ";
}

void CodeIfEmpty(std::string& field) {
    if (field.empty()) field = kOk;
}

void OpenJob(WorkArea& work, HistoryStart& record, const Clock& clock) {
    std::optional<std::int64_t> highest = HighestSerial(work);
    if (!highest) return;
    // Another terminal may insert the serial read here first: its row is then the highest,
    // and the next attempt takes the number after it. Any other failure ends the open.
    for (int attempt = 0; attempt < kHistoryInsertAttempts; ++attempt) {
        if (*highest < 0 || *highest >= std::numeric_limits<std::int32_t>::max()) return;
        const auto serial = static_cast<std::int32_t>(*highest + 1);
        record.通番 = serial;
        if (InsertRow(work, record, 0, clock)) {
            record.Result = kOk;
            return;
        }
        if (!NumberTaken(work)) return;
        highest = HighestSerial(work);
        if (!highest || *highest < serial) return;
    }
    ReportTakenNumbers(work, "job");
}

void OpenStage(WorkArea& work, HistoryStart& record, const Clock& clock, std::int16_t known_branch) {
    std::optional<std::int16_t> branch = known_branch;
    if (known_branch <= 0) branch = NextBranchNumber(work, record.通番);
    if (!branch) return;
    SpaceIfEmpty(record.送受信種別);
    SpaceIfEmpty(record.相手先種別);
    SpaceIfEmpty(record.処理種別);
    for (int attempt = 0; attempt < kHistoryInsertAttempts; ++attempt) {
        record.枝番 = *branch;
        if (InsertRow(work, record, *branch, clock)) {
            record.Result = kOk;
            return;
        }
        if (!NumberTaken(work)) return;
        const std::optional<std::int16_t> next = NextBranchNumber(work, record.通番);
        if (!next || *next <= *branch) return;
        branch = next;
    }
    ReportTakenNumbers(work, "stage");
}

// The row found by its key and completed by one statement; no row changed means there is none.
void Close(WorkArea& work, HistoryEnd& record, const Clock& clock) {
    HistoryEnd values = record;
    SpaceIfEmpty(values.相手先企業コード);
    SpaceIfEmpty(values.BPID);
    SpaceIfEmpty(values.取引情報区分);
    SpaceIfEmpty(values.格納モード);
    SpaceIfEmpty(values.ファイル名);
    CodeIfEmpty(values.終了コード);
    CodeIfEmpty(values.詳細コード);

    const LocalDateTime now = clock.Now();
    work.SqlText = "UPDATE FL1102処理履歴ファイル SET 処理終了日付 = " + SqlDate(now) + ", 処理終了時刻 = " +
                   SqlTime(now) + ", 相手先企業コード = " + SqlQuote(values.相手先企業コード) +
                   ", BPID = " + SqlQuote(values.BPID) + ", 取引情報区分 = " + SqlQuote(values.取引情報区分) +
                   ", 最終シーケンス番号 = " + std::to_string(values.最終シーケンス番号) +
                   ", 入力レコード数 = " + std::to_string(values.入力レコード数) +
                   ", 入力ファイルサイズ = " + std::to_string(values.入力ファイルサイズ) +
                   ", 出力レコード数 = " + std::to_string(values.出力レコード数) +
                   ", 出力ファイルサイズ = " + std::to_string(values.出力ファイルサイズ) +
                   ", 格納モード = " + SqlQuote(values.格納モード) + ", 終了コード = " + SqlQuote(values.終了コード) +
                   ", 詳細コード = " + SqlQuote(values.詳細コード) + ", ファイル名 = " + SqlQuote(values.ファイル名) +
                   " WHERE 通番 = " + std::to_string(record.通番) + " AND 枝番 = " + std::to_string(record.枝番);
    std::int64_t changed = 0;
    if (!ExecuteSql(work, changed)) {
        record = values;
        record.Result = kFailure;
        return;
    }
    if (changed < 1) {
        record.終了コード = kFailure;
        return;
    }
    values.Result = kOk;
    record = values;
}

}  // namespace

std::optional<std::int64_t> ToNumber(const DbValue& value) {
    if (!value) return std::nullopt;
    const std::string text = TrimBlanks(*value);
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return number;
}

void OpenJobHistory(WorkArea& work, HistoryStart& record, const Clock& clock) {
    record.Result = kFailure;
    try {
        OpenJob(work, record, clock);
    } catch (const std::exception&) {
        record.Result = kFailure;
    }
}

void OpenStageHistory(WorkArea& work, HistoryStart& record, const Clock& clock, std::int16_t branch) {
    record.Result = kFailure;
    if (record.通番 == 0) return;
    try {
        OpenStage(work, record, clock, branch);
    } catch (const std::exception&) {
        record.Result = kFailure;
    }
}

std::optional<std::int16_t> NextBranchNumber(WorkArea& work, std::int32_t serial) {
    try {
        work.SqlText = "SELECT 枝番 FROM FL1102処理履歴ファイル WHERE 通番 = " + std::to_string(serial) +
                       " ORDER BY 枝番 DESC LIMIT 1";
        ResultSet result;
        if (!OpenQuery(work, result)) return std::nullopt;
        std::optional<std::int64_t> next = 1;
        if (!result.EndOfSet()) {
            next = ToNumber(result.Value(history_col::kBranch));
            if (next) *next += 1;
        }
        result.Close();
        if (!next || *next < 1 || *next > std::numeric_limits<std::int16_t>::max()) return std::nullopt;
        return static_cast<std::int16_t>(*next);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void CloseHistory(WorkArea& work, HistoryEnd& record, const Clock& clock) {
    if (record.通番 == 0) {
        record.Result = kFailure;
        return;
    }
    try {
        Close(work, record, clock);
    } catch (const std::exception&) {
        record.Result = kFailure;
    }
}

}  // namespace edi
