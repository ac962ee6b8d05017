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

void OpenStage(WorkArea& work, HistoryStart& record, const Clock& clock) {
    std::optional<std::int16_t> branch = NextBranchNumber(work, record.通番);
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

void Close(WorkArea& work, HistoryEnd& record, const Clock& clock) {
    work.SqlText = "SELECT * FROM FL1102処理履歴ファイル WHERE 通番 = " + std::to_string(record.通番) +
                   " AND 枝番 = " + std::to_string(record.枝番);
    ResultSet row;
    if (!OpenQueryForUpdate(work, row)) {
        record.Result = kFailure;
        return;
    }
    if (row.EndOfSet()) {
        row.Close();
        record.終了コード = kFailure;
        return;
    }
    SpaceIfEmpty(record.相手先企業コード);
    SpaceIfEmpty(record.BPID);
    SpaceIfEmpty(record.取引情報区分);
    SpaceIfEmpty(record.格納モード);
    SpaceIfEmpty(record.ファイル名);
    CodeIfEmpty(record.終了コード);
    CodeIfEmpty(record.詳細コード);

    const LocalDateTime now = clock.Now();
    namespace col = history_col;
    const bool edited =
        row.SetValue(col::kEndDate, FormatDate(now)) && row.SetValue(col::kEndTime, FormatTime(now)) &&
        row.SetValue(col::kPartnerCompany, record.相手先企業コード) && row.SetValue(col::kBpid, record.BPID) &&
        row.SetValue(col::kInformationKind, record.取引情報区分) &&
        row.SetValue(col::kLastSequence, std::to_string(record.最終シーケンス番号)) &&
        row.SetValue(col::kInputRecords, std::to_string(record.入力レコード数)) &&
        row.SetValue(col::kInputSize, std::to_string(record.入力ファイルサイズ)) &&
        row.SetValue(col::kOutputRecords, std::to_string(record.出力レコード数)) &&
        row.SetValue(col::kOutputSize, std::to_string(record.出力ファイルサイズ)) &&
        row.SetValue(col::kStorageMode, record.格納モード) && row.SetValue(col::kEndCode, record.終了コード) &&
        row.SetValue(col::kDetailCode, record.詳細コード) && row.SetValue(col::kFileName, record.ファイル名);
    if (!edited || !row.Update()) {
        row.Close();
        record.Result = kFailure;
        return;
    }
    row.Close();
    record.Result = kOk;
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

void OpenStageHistory(WorkArea& work, HistoryStart& record, const Clock& clock) {
    record.Result = kFailure;
    if (record.通番 == 0) return;
    try {
        OpenStage(work, record, clock);
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
