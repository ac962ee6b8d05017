// One run at a time per terminal: an exclusive flock on a hidden file in the receive folder,
// taken before the first job and held until the run ends. The kernel drops it when the
// process dies, so a lock left by a dead run never blocks. The descriptor is inherited by the
// registration program on purpose: a run killed while that program works keeps the terminal
// locked until the program has ended, so the next run never starts it a second time.
#pragma once

#include <string>

#include "startup/WorkArea.h"

namespace edi {

// EDIINFIL + ".k500100-<terminal>.lock", the terminal name with every character other than
// letters, digits, "-", "_" and "." written "_".
std::string RunLockPath(const WorkArea& work);

class RunLock {
public:
    enum class State { kNone, kTaken, kHeld, kFailed };

    RunLock() = default;
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // kTaken; kHeld when another process holds it (message names the file and, when known,
    // the holder's process id); kFailed when the file cannot be opened (message says why).
    State Take(const std::string& path);
    void Release();
    const std::string& message() const { return message_; }

private:
    int fd_ = -1;
    std::string message_;
};

}  // namespace edi
