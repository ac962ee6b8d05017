#include "transfer/ReceiveRun.h"

#include <algorithm>

#include "convert/codec/ErrorLog.h"
#include "startup/DbSession.h"
#include "transfer/JobRecovery.h"

namespace edi {
namespace {

// Ends the run for the database: the report says what stopped and why, and so does ERR.LOG.
void StopForDatabase(WorkArea& work, RunReport& report, const std::string& what, DbFailure failure,
                     const std::string& cause) {
    report.end = RunEnd::kHistoryFailed;
    report.failure = failure;
    report.reason = cause.empty() ? what : what + ": " + cause;
    WriteErrorLog(work.Log, 9999, report.reason, 1);
}

// Before a job or the read of the unfinished jobs: a session that can be used, a lost
// connection opened again once; otherwise the run ends.
bool DatabaseReady(WorkArea& work, RunReport& report, const std::string& next) {
    if (EnsureDatabase(work)) return true;
    StopForDatabase(work, report, "the run stopped before " + next,
                    work.Db ? work.Db->LastFailure() : DbFailure::kOther,
                    work.Db ? work.Db->LastReport() : "there is no database session");
    return false;
}

// After a job: one whose database work failed was left open, and the run takes no further file.
bool JobRecorded(WorkArea& work, RunReport& report) {
    if (work.Db && work.Db->FirstFailure() == DbFailure::kNone) return true;
    const JobReport& job = report.jobs.back();
    const std::string what = job.serial != 0
                                 ? "the run stopped after job " + std::to_string(job.serial) + " of center " +
                                       job.center_code + ", which stays open for the next run to carry on"
                                 : "the run stopped: the job of center " + job.center_code + " could not be numbered";
    StopForDatabase(work, report, what, work.Db ? work.Db->FirstFailure() : DbFailure::kOther,
                    work.Db ? work.Db->FirstReport() : "there is no database session");
    return false;
}

}  // namespace

bool RunReport::all_well() const {
    if (end != RunEnd::kFinished) return false;
    for (const JobReport& job : jobs) {
        if (!job.outcome.ok()) return false;
    }
    return true;
}

std::vector<int> WaitingMarkedRows(const WorkArea& work) {
    std::vector<int> rows;
    for (std::size_t i = 0; i < work.Centers.size(); ++i) {
        if (work.Centers[i].RowState == kRowWaiting && work.Centers[i].RunFlag) rows.push_back(static_cast<int>(i));
    }
    return rows;
}

std::vector<int> MarkedRows(const WorkArea& work) {
    std::vector<int> rows;
    for (std::size_t i = 0; i < work.Centers.size(); ++i) {
        if (work.Centers[i].RunFlag) rows.push_back(static_cast<int>(i));
    }
    return rows;
}

ReceiveRun::ReceiveRun(WorkArea& work, JobRunner& runner, const std::atomic<bool>& stop)
    : work_(work), runner_(runner), stop_(stop) {}

void ReceiveRun::CarryOnUnfinished(RunReport& report) {
    if (!DatabaseReady(work_, report, "reading the unfinished jobs")) return;
    const std::optional<std::vector<UnfinishedJob>> unfinished = FindUnfinishedJobs(work_);
    if (!unfinished) {
        StopForDatabase(work_, report, "the unfinished jobs cannot be read from the history", work_.Db->LastFailure(),
                        work_.Db->LastReport());
        return;
    }
    for (const UnfinishedJob& job : *unfinished) {
        if (Stopped()) {
            report.end = RunEnd::kStopped;
            return;
        }
        const std::string name = "job " + std::to_string(job.serial) + " of center " + job.center_code;
        if (!DatabaseReady(work_, report, name)) return;
        const bool carried = runner_.CarryOnJob(job.serial, job.center_code);
        report.jobs.push_back(JobReport{job.serial, job.center_code, true, runner_.outcome()});
        if (!JobRecorded(work_, report)) return;
        if (!carried) {
            StopForDatabase(work_, report, "the history rows of " + name + " cannot be read", DbFailure::kOther, "");
            return;
        }
    }
}

bool ReceiveRun::Begin(RunLock& lock, RunReport& report) {
    switch (lock.Take(RunLockPath(work_))) {
        case RunLock::State::kTaken:
            break;
        case RunLock::State::kHeld:
            report.end = RunEnd::kLocked;
            report.reason = lock.message();
            return false;
        default:
            report.end = RunEnd::kLockFailed;
            report.reason = lock.message();
            return false;
    }
    runner_.ForgetPassedOverMails();
    runner_.ForgetMasters();
    CarryOnUnfinished(report);
    return report.end == RunEnd::kFinished;
}

// The run's last commits reach the disk before its lock is let go; a run that cannot put them
// there has not finished.
void ReceiveRun::End(RunReport& report) {
    if (runner_.SettleRun() || report.end == RunEnd::kHistoryFailed) return;
    StopForDatabase(work_, report, "the history of the run's last job could not be put on disk",
                    work_.Db ? work_.Db->LastFailure() : DbFailure::kOther,
                    work_.Db ? work_.Db->LastReport() : "there is no database session");
}

RunReport ReceiveRun::Run(const std::vector<int>& rows) {
    RunReport report;
    RunLock lock;
    if (Begin(lock, report)) RunRows(rows, report);
    End(report);
    return report;
}

void ReceiveRun::RunRows(const std::vector<int>& rows, RunReport& report) {
    for (const int row : rows) {
        if (row < 0 || static_cast<std::size_t>(row) >= work_.Centers.size()) continue;
        for (int take = 0; take < kMailJobsPerRun; ++take) {
            if (Stopped()) {
                report.end = RunEnd::kStopped;
                return;
            }
            const std::string& center_code = work_.Centers[static_cast<std::size_t>(row)].CenterCode;
            if (!DatabaseReady(work_, report, "the job of center " + center_code)) return;
            work_.CurrentRow = static_cast<std::int16_t>(row);
            runner_.RunJob();
            report.jobs.push_back(JobReport{runner_.serial(), center_code, false, runner_.outcome()});
            if (!JobRecorded(work_, report)) return;
            // A mail that was taken lets the next one come, however its message fared.
            if (!runner_.more_mail_waiting()) break;
        }
    }
}

RunReport ReceiveRun::CarryOn(std::int32_t serial) {
    RunReport report;
    RunLock lock;
    if (Begin(lock, report)) CarryOnOne(serial, report);
    End(report);
    return report;
}

void ReceiveRun::CarryOnOne(std::int32_t serial, RunReport& report) {
    if (!DatabaseReady(work_, report, "carrying on job " + std::to_string(serial))) return;
    std::string center_code;
    const CarryOnCheck check = CheckCarryOn(work_, serial, center_code);
    if (check.bar != CarryOnBar::kNone) {
        report.end = RunEnd::kRefused;
        report.refusal = check.bar;
        report.reason = "job " + std::to_string(serial) + " cannot be carried on: " +
                        CarryOnBarText(check.bar, check.taken_by, false);
        report.reason_ja = CarryOnBarText(check.bar, check.taken_by, true);
        return;
    }
    const auto row = std::find_if(work_.Centers.begin(), work_.Centers.end(),
                                  [&](const CenterEntry& entry) { return entry.CenterCode == center_code; });
    work_.CurrentRow = static_cast<std::int16_t>(row - work_.Centers.begin());
    runner_.RunJob(serial);
    report.jobs.push_back(JobReport{runner_.serial(), center_code, false, runner_.outcome(), serial});
    JobRecorded(work_, report);
}

}  // namespace edi
