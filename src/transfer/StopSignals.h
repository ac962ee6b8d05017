// Signals of a runner: a closed standard output never ends it, and SIGTERM or SIGINT only ask
// it to stop, so that the job in hand finishes its stages and history first.
#pragma once

#include <atomic>

namespace edi {

// Ignores SIGPIPE (a write to a closed pipe then fails instead) and makes SIGTERM and SIGINT
// set the flag, which must outlive the process's handling of signals. Also records which
// signal came, for the run's end (StopSignalNumber).
void InstallStopSignals(std::atomic<bool>& stop);

// The last stop signal received, 0 when none.
int StopSignalNumber();

}  // namespace edi
