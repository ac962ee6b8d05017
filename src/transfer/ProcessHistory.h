// The process history: one row of FL1102処理履歴ファイル per job (枝番 0) and per stage
// of the job (枝番 1, 2, ...), opened when it starts and completed when it ends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "startup/Clock.h"
#include "startup/WorkArea.h"

namespace edi {

namespace history_col {
inline constexpr std::string_view kTable = "FL1102処理履歴ファイル";
inline constexpr std::string_view kSerial = "通番";
inline constexpr std::string_view kBranch = "枝番";
inline constexpr std::string_view kEndDate = "処理終了日付";
inline constexpr std::string_view kEndTime = "処理終了時刻";
inline constexpr std::string_view kPartnerCompany = "相手先企業コード";
inline constexpr std::string_view kBpid = "BPID";
inline constexpr std::string_view kInformationKind = "取引情報区分";
inline constexpr std::string_view kLastSequence = "最終シーケンス番号";
inline constexpr std::string_view kInputRecords = "入力レコード数";
inline constexpr std::string_view kInputSize = "入力ファイルサイズ";
inline constexpr std::string_view kOutputRecords = "出力レコード数";
inline constexpr std::string_view kOutputSize = "出力ファイルサイズ";
inline constexpr std::string_view kStorageMode = "格納モード";
inline constexpr std::string_view kEndCode = "終了コード";
inline constexpr std::string_view kDetailCode = "詳細コード";
inline constexpr std::string_view kFileName = "ファイル名";
}  // namespace history_col

// 処理種別 of the rows the program writes.
inline constexpr std::string_view kKindJob = "03";
inline constexpr std::string_view kKindTransfer = "10";
inline constexpr std::string_view kKindRegistration = "41";

// Opens a row. 通番 is the output of the job open and the input of the stage open;
// 枝番 is the output of the stage open.
struct HistoryStart {
    std::int32_t 通番 = 0;
    std::string 送受信種別;
    std::string 相手先種別;
    std::string 処理種別;
    std::string センターコード;
    std::int16_t 枝番 = 0;
    std::string Result;  // ResultCode
};

// The opening record of a receive job's or stage's row: direction "R", partner kind "2".
inline HistoryStart ReceiveHistoryStart(std::int32_t serial, std::string_view kind, const std::string& center_code) {
    HistoryStart start;
    start.通番 = serial;
    start.送受信種別 = "R";
    start.相手先種別 = "2";
    start.処理種別 = std::string(kind);
    start.センターコード = center_code;
    return start;
}

// Completes the row (通番, 枝番). Fields left empty take their defaults, written back here.
struct HistoryEnd {
    std::int32_t 通番 = 0;
    std::int16_t 枝番 = 0;
    std::string 相手先企業コード;
    std::string BPID;
    std::string 取引情報区分;
    std::int32_t 最終シーケンス番号 = 0;
    std::int32_t 入力レコード数 = 0;
    std::int32_t 入力ファイルサイズ = 0;
    std::int32_t 出力レコード数 = 0;
    std::int32_t 出力ファイルサイズ = 0;
    std::string 格納モード;
    std::string 終了コード;
    std::string 詳細コード;
    std::string ファイル名;
    std::string Result;  // ResultCode
};

// A whole-number column value, blanks around it allowed; nothing for Null or any other text.
std::optional<std::int64_t> ToNumber(const std::optional<std::string>& value);

// How often an open takes the next number after another terminal took the one it read.
inline constexpr int kHistoryInsertAttempts = 50;

// Gives the job the highest serial in the table plus one and inserts its row with 枝番 0.
// Sets 通番 and Result ("0000", or "9999" on any database failure).
void OpenJobHistory(WorkArea& work, HistoryStart& record, const Clock& clock);

// Inserts a stage row under 通番 with the next branch number; empty 送受信種別, 相手先種別
// and 処理種別 become " ". Sets 枝番 and Result; 通番 0 gives "9999" without a statement.
// A job that numbers its own rows gives the branch it knows comes next; without one (0) the
// table is asked (NextBranchNumber). A branch found taken is followed by the table's next.
void OpenStageHistory(WorkArea& work, HistoryStart& record, const Clock& clock, std::int16_t branch = 0);

// The highest 枝番 under the serial plus one, 1 when it has none; nothing on a database
// failure or past 32767.
std::optional<std::int16_t> NextBranchNumber(WorkArea& work, std::int32_t serial);

// Writes the end date and time and the record's values into the row, found by its key (one
// UPDATE). 通番 0 gives "9999"; a row that does not exist leaves Result as it was and sets
// 終了コード to "9999".
void CloseHistory(WorkArea& work, HistoryEnd& record, const Clock& clock);

}  // namespace edi
