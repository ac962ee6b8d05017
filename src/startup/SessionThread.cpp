#include "startup/SessionThread.h"

namespace edi {

SessionThread::SessionThread() : thread_([this] { Loop(); }) {}

SessionThread::~SessionThread() {
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void SessionThread::Post(std::function<void()> task) {
    {
        const std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
}

void SessionThread::Call(const std::function<void()>& task) {
    if (std::this_thread::get_id() == thread_.get_id()) {
        task();
        return;
    }
    std::mutex done_mutex;
    std::condition_variable done_signal;
    bool done = false;
    Post([&] {
        task();
        const std::lock_guard lock(done_mutex);
        done = true;
        done_signal.notify_all();
    });
    std::unique_lock lock(done_mutex);
    done_signal.wait(lock, [&] { return done; });
}

bool SessionThread::Busy() const {
    const std::lock_guard lock(mutex_);
    return running_task_ || !tasks_.empty();
}

void SessionThread::Loop() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            running_task_ = false;
            wake_.wait(lock, [this] { return ending_ || !tasks_.empty(); });
            if (tasks_.empty()) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
            running_task_ = true;
        }
        task();
    }
}

}  // namespace edi
