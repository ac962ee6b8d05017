// What the benchmark programs share: a clock that stands still, and each measured phase run
// in a child process so that its peak resident memory is its own.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "startup/Clock.h"

namespace edi::bench {

class StillClock final : public Clock {
public:
    LocalDateTime Now() const override { return {2026, 12, 5, 12, 0, 0}; }
};

struct Phase {
    double seconds = 0;
    long peak_kib = 0;
    bool ok = false;
};

// Runs the work in a child; its time comes back through a pipe, its peak memory from wait4.
inline Phase RunChild(const std::function<bool()>& work) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const auto start = std::chrono::steady_clock::now();
        const bool ok = work();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (write(fds[1], &seconds, sizeof seconds) != sizeof seconds) _exit(3);
        _exit(ok ? 0 : 1);
    }
    close(fds[1]);
    Phase phase;
    if (read(fds[0], &phase.seconds, sizeof phase.seconds) != sizeof phase.seconds) phase.seconds = 0;
    close(fds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    phase.peak_kib = usage.ru_maxrss;
    phase.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return phase;
}

}  // namespace edi::bench
