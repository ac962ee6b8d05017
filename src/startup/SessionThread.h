// The one thread that uses the database session in the window program. A Qt SQL connection
// may only be used from the thread that opened it, so the session is opened, used and dropped
// here: the start-up queries, every job of a run and the history view's reads are tasks run
// on this thread one at a time, in the order they were posted. The user-interface thread
// never touches the session; it posts a task and gets the result back as an event.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace edi {

class SessionThread {
public:
    SessionThread();
    // Runs the tasks already posted, then ends the thread.
    ~SessionThread();
    SessionThread(const SessionThread&) = delete;
    SessionThread& operator=(const SessionThread&) = delete;

    // Queues a task and returns at once.
    void Post(std::function<void()> task);
    // Runs a task there and waits until it has run (at once when called from the thread itself).
    void Call(const std::function<void()>& task);
    // A task is running or waiting.
    bool Busy() const;

private:
    void Loop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool running_task_ = false;
    bool ending_ = false;
    std::thread thread_;
};

}  // namespace edi
