#include "transfer/JobCarryOn.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "convert/codec/Codec.h"
#include "startup/DbSession.h"
#include "transfer/CodeMeaning.h"
#include "transfer/FileMove.h"
#include "transfer/FileNaming.h"
#include "transfer/JobRunner.h"
#include "transfer/ProcessHistory.h"
#include "transfer/ReceiveRun.h"
#include "transfer/RunLock.h"

namespace edi {
namespace {

namespace fs = std::filesystem;

const JobRow* LastOfKind(const std::vector<JobRow>& rows, std::string_view kind) {
    const JobRow* last = nullptr;
    for (const JobRow& row : rows) {
        if (row.処理種別 == kind) last = &row;
    }
    return last;
}

}  // namespace

std::optional<std::int32_t> SerialValue(const DbValue& value) {
    if (!value) return std::nullopt;
    const std::string text = TrimBlanks(*value);
    if (text.empty() || text.size() > 10 || !std::all_of(text.begin(), text.end(), [](char c) {
            return c >= '0' && c <= '9';
        })) {
        return std::nullopt;
    }
    const long long number = std::stoll(text);
    if (number > 0x7FFFFFFF) return std::nullopt;
    return static_cast<std::int32_t>(number);
}

std::string CarryOnBarText(CarryOnBar bar, std::int32_t taken_by, bool japanese) {
    const std::string by = std::to_string(taken_by);
    switch (bar) {
        case CarryOnBar::kNone: return japanese ? "再実行できます" : "it can be carried on";
        case CarryOnBar::kUnknownJob: return japanese ? "受信処理の通番ではありません" : "no receive job has this serial";
        case CarryOnBar::kOtherTerminal:
            return japanese ? "この端末のセンターの処理ではありません" : "its center is not one of this terminal's";
        case CarryOnBar::kUnfinished:
            return japanese ? "処理が終わっていません（次の実行で継続されます）"
                            : "it has not ended (the next run carries it on)";
        case CarryOnBar::kNotReceived:
            return japanese ? "受信が正常に終わっていません" : "its receive stage did not end well";
        case CarryOnBar::kEndedWell: return japanese ? "登録済みです" : "it was registered";
        case CarryOnBar::kMayBeRegistered:
            return japanese ? "登録プログラムの実行中に処理が終わったため、一部登録の可能性があります"
                            : "the run ended while its registration program ran: it may be partly registered";
        case CarryOnBar::kTakenOver:
            return japanese ? "通番 " + by + " で再実行済みです" : "job " + by + " took its received file over";
        case CarryOnBar::kNoReceivedFile:
            return japanese ? "受信ファイルが受信フォルダにありません" : "its received file is no longer in EDIINFIL";
        case CarryOnBar::kUnreadable: return japanese ? "処理履歴を読めません" : "its history rows cannot be read";
    }
    return {};
}

std::string ReceivedFileOf(const FinishedJob& job, const std::string& receive_folder) {
    const JobRow* receive = LastOfKind(job.rows, kKindTransfer);
    if (receive == nullptr) return {};
    const std::string name = fs::path(TrimBlanks(receive->ファイル名)).filename().string();
    // Only a name of this job's own can be its message; anything else is left alone.
    if (!name.starts_with(SerialPart(job.serial) + "_RCV_")) return {};
    return PathInFolder(receive_folder, name);
}

CarryOnCheck JudgeCarryOn(const FinishedJob& job, const std::string& receive_folder) {
    CarryOnCheck check;
    check.taken_by = job.taken_by;
    const JobRow* receive = LastOfKind(job.rows, kKindTransfer);
    const JobRow* registration = LastOfKind(job.rows, kKindRegistration);
    if (job.open) {
        check.bar = CarryOnBar::kUnfinished;
    } else if (receive == nullptr || receive->open || TrimBlanks(receive->終了コード) != "0000") {
        check.bar = CarryOnBar::kNotReceived;
    } else if (registration != nullptr && RegistrationEndedWell(registration->終了コード)) {
        check.bar = CarryOnBar::kEndedWell;
    } else if (registration != nullptr && TrimBlanks(registration->終了コード) == "4100" &&
               TrimBlanks(registration->詳細コード) == kRegistrationInterrupted) {
        check.bar = CarryOnBar::kMayBeRegistered;
    }
    if (check.bar != CarryOnBar::kNone) return check;
    check.received_file = ReceivedFileOf(job, receive_folder);
    std::error_code ec;
    if (check.received_file.empty() || !fs::is_regular_file(check.received_file, ec)) {
        check.bar = job.taken_by != 0 ? CarryOnBar::kTakenOver : CarryOnBar::kNoReceivedFile;
        return check;
    }
    // "9999"/"9999" and "4100"/"0001": the program never ran. Otherwise it may have.
    if (registration != nullptr) {
        const std::string detail = TrimBlanks(registration->詳細コード);
        check.caution = detail != "9999" && detail != "0001";
    }
    return check;
}

std::optional<FinishedJob> ReadFinishedJob(WorkArea& work, std::int32_t serial, bool& failed) {
    failed = false;
    const std::string s = std::to_string(serial);
    work.SqlText = "SELECT 処理種別, 送受信種別, センターコード, 処理終了日付 FROM FL1102処理履歴ファイル WHERE 通番 = " +
                   s + " AND 枝番 = 0";
    ResultSet set;
    if (!OpenQuery(work, set)) {
        failed = true;
        return std::nullopt;
    }
    if (set.EndOfSet() || TrimOrDefault(set.Value("処理種別"), "") != kKindJob ||
        TrimOrDefault(set.Value("送受信種別"), "") != "R") {
        return std::nullopt;
    }
    FinishedJob job;
    job.serial = serial;
    job.center_code = ValueOrDefault(set.Value("センターコード"), "");
    job.open = !set.Value("処理終了日付").has_value();
    set.Close();

    std::optional<std::vector<JobRow>> rows = ReadJobRows(work, serial);
    work.SqlText = "SELECT 通番 FROM FL1102処理履歴ファイル WHERE 枝番 = 0 AND 処理種別 = '03' AND 最終シーケンス番号 = " +
                   s + " ORDER BY 通番 DESC";
    if (!rows || !OpenQuery(work, set)) {
        failed = true;
        return std::nullopt;
    }
    job.rows = std::move(*rows);
    if (!set.EndOfSet()) job.taken_by = SerialValue(set.Value("通番")).value_or(0);
    return job;
}

CarryOnCheck CheckCarryOn(WorkArea& work, std::int32_t serial, std::string& center_code) {
    CarryOnCheck check;
    bool failed = false;
    const std::optional<FinishedJob> job = ReadFinishedJob(work, serial, failed);
    if (!job) {
        check.bar = failed ? CarryOnBar::kUnreadable : CarryOnBar::kUnknownJob;
        return check;
    }
    center_code = job->center_code;
    if (std::none_of(work.Centers.begin(), work.Centers.end(),
                     [&](const CenterEntry& entry) { return entry.CenterCode == job->center_code; })) {
        check.bar = CarryOnBar::kOtherTerminal;
        return check;
    }
    return JudgeCarryOn(*job, work.EDIINFIL);
}

std::optional<std::int32_t> TakenOverSerial(WorkArea& work, std::int32_t serial) {
    work.SqlText = "SELECT 最終シーケンス番号 FROM FL1102処理履歴ファイル WHERE 通番 = " + std::to_string(serial) +
                   " AND 枝番 = 0";
    ResultSet set;
    if (!OpenQuery(work, set)) return std::nullopt;
    if (set.EndOfSet()) return 0;
    return SerialValue(set.Value("最終シーケンス番号")).value_or(0);
}

bool NoteTakeOver(WorkArea& work, std::int32_t serial, std::int32_t taken_from) {
    work.SqlText = "UPDATE FL1102処理履歴ファイル SET 最終シーケンス番号 = " + std::to_string(taken_from) +
                   " WHERE 通番 = " + std::to_string(serial) + " AND 枝番 = 0";
    return ExecuteSql(work);
}

int TakeOverFile(const std::string& folder, const std::string& from_name, std::int32_t serial,
                 std::string& taken_name) {
    const std::size_t serial_end = from_name.find("_RCV_");
    if (serial_end == std::string::npos) return 1;
    taken_name = SerialPart(serial) + from_name.substr(serial_end);
    const std::string source = PathInFolder(folder, from_name);
    const std::string destination = PathInFolder(folder, taken_name);
    std::error_code ec;
    // Renamed already: the run that did it ended before its row was closed.
    if (fs::is_regular_file(destination, ec)) return 0;
    if (!fs::is_regular_file(source, ec)) return 1;
    fs::rename(source, destination, ec);
    if (ec) return 9;
    std::string reason;
    return FlushFolder(folder, reason) ? 0 : 9;
}

void JobRunner::TakeOverReceived(const std::string& center_code, std::int32_t serial, std::int32_t taken_from,
                                 std::int16_t branch, std::string& result) {
    if (branch == 0) {
        // The job row names the earlier job before its file is touched.
        if (!NoteTakeOver(work_, serial, taken_from)) {
            result = "9999";
            NoteFailure("receive", result, "");
            return;
        }
        branch = OpenReceiveRow(center_code, serial, result);
        if (branch == 0) return;
    }
    HistoryEnd end;
    end.通番 = serial;
    end.枝番 = branch;
    end.最終シーケンス番号 = taken_from;
    end.詳細コード = std::string(kTakesOverCode);
    // The rows that say the file is being taken over are on disk before it is renamed.
    bool failed = !CommitWrites(work_);
    std::optional<FinishedJob> earlier;
    if (!failed) earlier = ReadFinishedJob(work_, taken_from, failed);
    const std::string from = earlier ? fs::path(ReceivedFileOf(*earlier, work_.EDIINFIL)).filename().string() : "";
    std::string taken;
    end.終了コード = failed ? "9999" : TakeOverFile(work_.EDIINFIL, from, serial, taken) == 0 ? "0000" : "5001";
    end.ファイル名 = taken.empty() ? from : PathInFolder(work_.EDIINFIL, taken);
    CloseReceiveRow(end, result);
}

}  // namespace edi
