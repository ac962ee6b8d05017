#include "transfer/StopSignals.h"

#include <signal.h>

namespace edi {
namespace {

std::atomic<bool>* g_stop = nullptr;
volatile sig_atomic_t g_signal = 0;

static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

extern "C" void OnStopSignal(int signal_number) {
    g_signal = signal_number;
    if (g_stop != nullptr) g_stop->store(true);
}

}  // namespace

void InstallStopSignals(std::atomic<bool>& stop) {
    g_stop = &stop;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);

    struct sigaction request {};
    request.sa_handler = OnStopSignal;
    sigemptyset(&request.sa_mask);
    // Restarted calls: a database driver or a wait in progress carries on as if nothing came.
    request.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &request, nullptr);
    sigaction(SIGINT, &request, nullptr);
}

int StopSignalNumber() { return g_signal; }

}  // namespace edi
