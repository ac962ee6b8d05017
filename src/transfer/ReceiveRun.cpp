#include "transfer/ReceiveRun.h"

#include "transfer/JobRecovery.h"

namespace edi {

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
    const std::optional<std::vector<UnfinishedJob>> unfinished = FindUnfinishedJobs(work_);
    if (!unfinished) {
        report.end = RunEnd::kHistoryFailed;
        report.reason = "the unfinished jobs cannot be read from the history";
        return;
    }
    for (const UnfinishedJob& job : *unfinished) {
        if (Stopped()) {
            report.end = RunEnd::kStopped;
            return;
        }
        const bool carried = runner_.CarryOnJob(job.serial, job.center_code);
        report.jobs.push_back(JobReport{job.serial, job.center_code, true, runner_.outcome()});
        if (!carried) {
            report.end = RunEnd::kHistoryFailed;
            report.reason = "the history rows of job " + std::to_string(job.serial) + " cannot be read";
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
    CarryOnUnfinished(report);
    return report.end == RunEnd::kFinished;
}

RunReport ReceiveRun::Run(const std::vector<int>& rows) {
    RunReport report;
    RunLock lock;
    if (!Begin(lock, report)) return report;
    for (const int row : rows) {
        if (row < 0 || static_cast<std::size_t>(row) >= work_.Centers.size()) continue;
        for (int take = 0; take < kMailJobsPerRun; ++take) {
            if (Stopped()) {
                report.end = RunEnd::kStopped;
                return report;
            }
            work_.CurrentRow = static_cast<std::int16_t>(row);
            runner_.RunJob();
            report.jobs.push_back(JobReport{runner_.serial(), work_.Centers[static_cast<std::size_t>(row)].CenterCode,
                                            false, runner_.outcome()});
            // A mail that was taken lets the next one come, however its message fared.
            if (!runner_.more_mail_waiting()) break;
        }
    }
    return report;
}

}  // namespace edi
