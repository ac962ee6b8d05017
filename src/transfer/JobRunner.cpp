#include "transfer/JobRunner.h"

#include <filesystem>
#include <system_error>

#include "convert/codec/ErrorLog.h"
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

void JobRunner::RunJob() {
    if (work_.CurrentRow < 0 || static_cast<std::size_t>(work_.CurrentRow) >= work_.Centers.size()) return;
    const std::string center_code = Row().CenterCode;
    display_.MakeRowCurrent(work_.CurrentRow);
    SetRowState(kRowRunning);

    HistoryStart job;
    job.送受信種別 = "R";
    job.相手先種別 = "2";
    job.処理種別 = std::string(kKindJob);
    job.センターコード = center_code;
    OpenJobHistory(work_, job, clock_);

    std::string final_code;
    if (job.Result != "0000") {
        ShowCell(kReceiveColumn, "通番ｴﾗｰ");
        SetRowState(kRowFailed);
        final_code = job.Result.empty() ? "9999" : job.Result;
    } else {
        std::string r;
        ShowCell(kReceiveColumn, "受信中");
        RunReceiveStage(center_code, job.通番, r);
        if (r != "0000") {
            ShowCell(kReceiveColumn, "受信ｴﾗｰ");
            SetRowState(kRowFailed);
            final_code = r;
        } else {
            ShowCell(kReceiveColumn, "OK");
            ShowCell(kConversionColumn, "変換中");
            RunConversionStage(center_code, job.通番, r);
            if (r != "0000") {
                ShowCell(kConversionColumn, "変換ｴﾗｰ");
                SetRowState(kRowFailed);
                final_code = r;
            } else {
                ShowCell(kConversionColumn, "OK");
                ShowCell(kRegistrationColumn, "登録中");
                RunRegistrationStage(center_code, job.通番, r);
                if (r == "0000") {
                    ShowCell(kRegistrationColumn, "OK");
                    final_code = "0000";
                } else {
                    ShowCell(kRegistrationColumn, "登録ｴﾗｰ");
                    SetRowState(kRowFailed);
                    final_code = r;
                }
            }
        }
    }

    HistoryEnd end;
    end.終了コード = final_code;
    ArchiveJobFiles(job.通番, 0);
    if (Row().RowState != kRowFailed) SetRowState(kRowDone);
    end.通番 = job.通番;
    end.枝番 = 0;
    CloseHistory(work_, end, clock_);
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
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code type_error;
        if (name.compare(0, prefix.size(), prefix) != 0 || !it->is_regular_file(type_error)) continue;
        std::string reason;
        if (!CopyFileWhole(PathInFolder(folder, name), PathInFolder(work_.OLD_FILE, name), reason)) {
            WriteErrorLog(work_.Log, 9999, "archive: " + reason, 1);
            ok = false;
        }
    }
    if (ec) {
        WriteErrorLog(work_.Log, 9999, "archive: cannot list " + folder + ": " + ec.message(), 1);
        ok = false;
    }
    return ok;
}

void RunNow(WorkArea& work, JobRunner& runner) {
    for (std::size_t i = 0; i < work.Centers.size(); ++i) {
        if (work.Centers[i].RowState != kRowWaiting || !work.Centers[i].RunFlag) continue;
        work.CurrentRow = static_cast<std::int16_t>(i);
        runner.RunJob();
    }
}

}  // namespace edi
