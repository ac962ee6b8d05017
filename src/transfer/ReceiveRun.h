// One run of the receive jobs, as the window and the headless runner start it: the terminal's
// lock, then the jobs an earlier run left unfinished, then the jobs of the chosen rows in grid
// order, a mail center's job again while its partner's mails wait. A stop request (a signal,
// the window closing) is honoured between jobs, never inside one.
// Before each job a lost connection to the database is opened again, once; a job whose
// database work fails stays open and ends the run, so no further file is taken while its
// record cannot be written.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "startup/DbFailure.h"
#include "startup/WorkArea.h"
#include "transfer/JobCarryOn.h"
#include "transfer/JobOutcome.h"
#include "transfer/JobRunner.h"
#include "transfer/RunLock.h"

namespace edi {

// How often one run takes a mail center's job while partner mails wait; later mails wait for
// the next run.
inline constexpr int kMailJobsPerRun = 20;

enum class RunEnd {
    kFinished,    // every chosen job ran
    kStopped,     // a stop request ended the run between two jobs
    kLocked,      // another run of this terminal holds the lock: nothing ran
    kLockFailed,  // the lock file cannot be opened: nothing ran
    kHistoryFailed,  // the history could not be read or written: no further file was taken; a job left
                     // open by the failure waits for the next run
    kRefused,        // the job asked to be carried on cannot be (RunReport::refusal says why)
};

struct JobReport {
    std::int32_t serial = 0;  // 0 when the job could not be numbered
    std::string center_code;
    bool carried_on = false;
    JobOutcome outcome;
    std::int32_t takes_over = 0;  // the earlier job whose received file this job converted again
};

struct RunReport {
    RunEnd end = RunEnd::kFinished;
    std::string reason;                      // for kLocked, kLockFailed, kHistoryFailed and kRefused: what and why
    DbFailure failure = DbFailure::kNone;    // for kHistoryFailed: what the database met
    CarryOnBar refusal = CarryOnBar::kNone;  // for kRefused
    std::string reason_ja;                   // for kRefused: the reason as the window says it
    std::vector<JobReport> jobs;   // in the order they ran
    bool all_well() const;
};

// The rows "run now" takes: marked and still waiting. The armed schedule takes every marked row.
std::vector<int> WaitingMarkedRows(const WorkArea& work);
std::vector<int> MarkedRows(const WorkArea& work);

class ReceiveRun {
public:
    ReceiveRun(WorkArea& work, JobRunner& runner, const std::atomic<bool>& stop);

    // The whole run for the given grid rows.
    RunReport Run(const std::vector<int>& rows);
    // A run that carries on one failed job of this terminal (JobCarryOn.h), after the unfinished
    // jobs; kRefused when it cannot be carried on.
    RunReport CarryOn(std::int32_t serial);

    // Carries on every unfinished job of this terminal's centers, oldest first; the lock must
    // be held. Sets report.end when the pass did not end: a stop request, or a history that
    // cannot be read or written (no new file may be taken before those jobs are finished).
    void CarryOnUnfinished(RunReport& report);

private:
    bool Stopped() const { return stop_.load(); }
    // Takes the terminal's lock and carries on the unfinished jobs; false when the run may go no further.
    bool Begin(RunLock& lock, RunReport& report);
    void RunRows(const std::vector<int>& rows, RunReport& report);
    void CarryOnOne(std::int32_t serial, RunReport& report);
    // Puts the run's deferred commits on disk before the lock goes (JobRunner::SettleRun).
    void End(RunReport& report);

    WorkArea& work_;
    JobRunner& runner_;
    const std::atomic<bool>& stop_;
};

}  // namespace edi
