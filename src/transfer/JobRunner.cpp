#include "transfer/JobRunner.h"

#include <filesystem>
#include <limits>
#include <system_error>

#include "convert/codec/ErrorLog.h"
#include "startup/DbSession.h"
#include "transfer/CodeMeaning.h"
#include "transfer/FileMove.h"
#include "transfer/FileNaming.h"
#include "transfer/ProcessHistory.h"

namespace edi {

JobRunner::JobRunner(WorkArea& work, const Clock& clock, MessageBoxes& messages, ProgressView& progress,
                     JobDisplay& display, Converters& converters, ProcessStarter& starter)
    : work_(work),
      clock_(clock),
      messages_(messages),
      progress_(progress),
      display_(display),
      converters_(converters),
      starter_(starter) {}

CenterEntry& JobRunner::Row() { return work_.Centers.at(static_cast<std::size_t>(work_.CurrentRow)); }

void JobRunner::ShowCell(int column, const std::string& text) {
    CenterEntry& row = Row();
    if (column == kReceiveColumn) row.ReceiveStatus = text;
    if (column == kConversionColumn) row.ConversionStatus = text;
    if (column == kRegistrationColumn) row.RegistrationStatus = text;
    display_.ShowStatus(work_.CurrentRow, column, text);
}

void JobRunner::SetRowState(std::int16_t state) {
    display_.MakeRowCurrent(work_.CurrentRow);
    Row().RowState = state;
    display_.SetRowState(work_.CurrentRow, state);
}

void JobRunner::NoteFailure(std::string_view stage, const std::string& code, const std::string& detail) {
    if (!outcome_.ok()) return;
    outcome_.stage = std::string(stage);
    outcome_.code = code.empty() ? "9999" : code;
    outcome_.detail = detail;
}

bool JobRunner::DatabaseFailed() const { return !work_.Db || work_.Db->FirstFailure() != DbFailure::kNone; }

JobRunner::JobInHand::JobInHand(JobRunner& runner) : runner_(runner), held_(runner.work_) {
    runner_.in_job_ = true;
    runner_.next_branch_ = 0;
    runner_.center_rows_.reset();
    runner_.closed_marker_.clear();
}

JobRunner::JobInHand::~JobInHand() {
    runner_.in_job_ = false;
    runner_.next_branch_ = 0;
    runner_.center_rows_.reset();
    runner_.closed_marker_.clear();
}

void JobRunner::NoteStageOpened(const HistoryStart& start) {
    if (!in_job_) return;
    const bool numbered = start.Result == "0000" && start.枝番 > 0 && start.枝番 < std::numeric_limits<std::int16_t>::max();
    next_branch_ = numbered ? static_cast<std::int16_t>(start.枝番 + 1) : 0;
}

const std::vector<CenterRow>& JobRunner::CenterRowsOfJob(const std::string& center_code, std::string& result) {
    if (!center_rows_ || !in_job_) {
        center_rows_.emplace();
        center_rows_result_ = ReadCenterRows(work_, center_code, *center_rows_);
    }
    result = center_rows_result_;
    return *center_rows_;
}

void JobRunner::RunJob(std::int32_t takes_over) {
    outcome_ = JobOutcome{};
    serial_ = 0;
    more_mail_waiting_ = false;
    if (work_.CurrentRow < 0 || static_cast<std::size_t>(work_.CurrentRow) >= work_.Centers.size()) return;
    if (work_.Db) work_.Db->ForgetFailures();
    const JobInHand job_in_hand(*this);
    const std::string center_code = Row().CenterCode;
    display_.MakeRowCurrent(work_.CurrentRow);
    SetRowState(kRowRunning);

    HistoryStart job = ReceiveHistoryStart(0, kKindJob, center_code);
    OpenJobHistory(work_, job, clock_);
    // The job row is committed before anything of the job happens; a commit that fails leaves
    // no row, and the job is not numbered. It reaches the disk with the receive row's commit,
    // before the file is taken.
    if (job.Result == "0000" && !CommitWrites(work_, CommitFlush::kWithNext)) {
        job.Result = "9999";
        job.通番 = 0;
    }

    std::string final_code;
    if (job.Result != "0000") {
        ShowCell(kReceiveColumn, "通番ｴﾗｰ");
        SetRowState(kRowFailed);
        final_code = job.Result.empty() ? "9999" : job.Result;
        NoteFailure("job", final_code, "");
    } else {
        serial_ = job.通番;
        next_branch_ = 1;
        JobProgress progress;
        progress.takes_over = takes_over;
        final_code = RunStages(center_code, job.通番, progress);
    }
    FinishJob(job.通番, final_code, false, takes_over);
}

std::string JobRunner::RunStages(const std::string& center_code, std::int32_t serial, const JobProgress& progress) {
    std::string r;
    // A stage whose database work failed has failed, whatever it reports: no later stage runs
    // in a job whose record cannot be trusted.
    const auto failed = [&] {
        if (r == "0000" && DatabaseFailed()) r = "9999";
        return r != "0000";
    };
    if (progress.receive.closed) {
        if (progress.receive.終了コード != "0000") {
            NoteFailure("receive", progress.receive.終了コード, progress.receive.詳細コード);
        }
    } else {
        ShowCell(kReceiveColumn, "受信中");
        if (progress.takes_over != 0) {
            TakeOverReceived(center_code, serial, progress.takes_over, progress.receive.open, r);
        } else if (progress.receive.open != 0) {
            CarryOnReceive(center_code, serial, progress.receive.open, r);
        } else {
            RunReceiveStage(center_code, serial, r);
        }
        if (failed()) {
            ShowCell(kReceiveColumn, "受信ｴﾗｰ");
            SetRowState(kRowFailed);
            NoteFailure("receive", r, "");
            return r;
        }
    }
    ShowCell(kReceiveColumn, "OK");

    if (!progress.converted) {
        if (progress.carried_on) {
            // A conversion cut short runs again from the received file, in rows of its own.
            for (const std::int16_t branch : progress.cut_short) {
                HistoryEnd end;
                end.通番 = serial;
                end.枝番 = branch;
                end.終了コード = std::string(kCutShortCode);
                CloseHistory(work_, end, clock_);
            }
            RemoveConvertedFiles(work_.EDIINFIL, serial, center_code);
        }
        ShowCell(kConversionColumn, "変換中");
        RunConversionStage(center_code, serial, r);
        if (failed()) {
            ShowCell(kConversionColumn, "変換ｴﾗｰ");
            SetRowState(kRowFailed);
            NoteFailure("conversion", r, r == kCiiCheckFailed ? values_.detail : "");
            return r;
        }
    }
    ShowCell(kConversionColumn, "OK");

    if (progress.registration.closed) {
        if (!RegistrationEndedWell(progress.registration.終了コード)) {
            NoteFailure("registration", progress.registration.終了コード, progress.registration.詳細コード);
        }
    } else {
        ShowCell(kRegistrationColumn, "登録中");
        if (progress.registration.open != 0) {
            CarryOnRegistration(center_code, serial, progress.registration.open, r);
        } else {
            RunRegistrationStage(center_code, serial, r);
        }
        if (failed()) {
            ShowCell(kRegistrationColumn, "登録ｴﾗｰ");
            SetRowState(kRowFailed);
            NoteFailure("registration", r, "");
            return r;
        }
    }
    ShowCell(kRegistrationColumn, "OK");
    return "0000";
}

void JobRunner::FinishJob(std::int32_t serial, const std::string& final_code, bool carried_on,
                          std::int32_t takes_over) {
    HistoryEnd end;
    end.終了コード = final_code;
    end.最終シーケンス番号 = takes_over;
    if (takes_over != 0) end.詳細コード = std::string(kTakesOverCode);
    if (carried_on) end.詳細コード = std::string(kCarriedOnCode);
    if (!ArchiveJobFiles(serial, 0)) NoteFailure("archive", "9999", "");
    if (Row().RowState != kRowFailed) SetRowState(kRowDone);
    end.通番 = serial;
    end.枝番 = 0;
    // A job whose database work failed may be recorded only in part: its row stays open and the
    // next run carries it on from where its rows and files say it stands. The registration
    // row's close and the job row's are committed together, and reach the disk with the next
    // job's first flush or at the end of the run: nothing outside the database acts on them
    // before that.
    if (!DatabaseFailed()) CloseHistory(work_, end, clock_);
    if (CommitWrites(work_, CommitFlush::kWithNext) && !DatabaseFailed() && !closed_marker_.empty()) {
        settled_markers_.push_back(closed_marker_);
    }
    closed_marker_.clear();
    if (DatabaseFailed() && serial != 0) {
        outcome_ = JobOutcome{"database", "9999", ""};
        if (Row().RowState != kRowFailed) SetRowState(kRowFailed);
    }
}

bool JobRunner::SettleRun() {
    if (!FlushCommits(work_)) return false;
    std::error_code ec;
    for (const std::string& marker : settled_markers_) std::filesystem::remove(marker, ec);
    settled_markers_.clear();
    return true;
}

bool JobRunner::ArchiveJobFiles(std::int32_t serial, std::int16_t direction) {
    const std::string& folder = direction == 0 ? work_.EDIINFIL : work_.EDIOUTFIL;
    const std::string prefix = SerialPart(serial);
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) {
        WriteErrorLog(work_.Log, 9999, "archive: cannot list " + folder + ": " + ec.message(), 1);
        return false;
    }
    bool ok = true;
    int copied = 0;
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code type_error;
        if (name.compare(0, prefix.size(), prefix) != 0 || !it->is_regular_file(type_error)) continue;
        std::string reason;
        if (!ArchiveFile(PathInFolder(folder, name), PathInFolder(work_.OLD_FILE, name), reason)) {
            WriteErrorLog(work_.Log, 9999, "archive: " + reason, 1);
            ok = false;
        }
        ++copied;
    }
    if (ec) {
        WriteErrorLog(work_.Log, 9999, "archive: cannot list " + folder + ": " + ec.message(), 1);
        ok = false;
    }
    // The job's copies (new names for its files, or bytes written out one by one) reach the
    // disk with one flush of the folder, before its row says it ended.
    std::string reason;
    if (copied > 0 && !FlushFolder(work_.OLD_FILE, reason)) {
        WriteErrorLog(work_.Log, 9999, "archive: " + reason, 1);
        ok = false;
    }
    return ok;
}

}  // namespace edi
