#include "transfer/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "transfer/FileNaming.h"

namespace edi {

std::string RunLockPath(const WorkArea& work) {
    std::string name = work.TerminalName;
    for (char& c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        if (!plain) c = '_';
    }
    return PathInFolder(work.EDIINFIL, ".k500100-" + name + ".lock");
}

RunLock::~RunLock() { Release(); }

RunLock::State RunLock::Take(const std::string& path) {
    Release();
    // No O_CLOEXEC: the registration program inherits the lock (see the header).
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
    if (fd_ < 0) {
        message_ = "cannot open the lock file " + path + ": " + std::strerror(errno);
        return State::kFailed;
    }
    int rc = 0;
    while ((rc = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        const int error = errno;
        char holder[32] = {};
        const ssize_t n = ::pread(fd_, holder, sizeof holder - 1, 0);
        ::close(fd_);
        fd_ = -1;
        if (error != EWOULDBLOCK) {
            message_ = "cannot lock " + path + ": " + std::strerror(error);
            return State::kFailed;
        }
        std::string pid(holder, n > 0 ? static_cast<std::size_t>(n) : 0);
        while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
        message_ = "another run of this terminal holds " + path + (pid.empty() ? "" : " (process " + pid + ")");
        return State::kHeld;
    }
    // The holder's process id, for the message of a run that finds the lock taken; without it
    // that message only lacks the number.
    const std::string pid = std::to_string(::getpid()) + "\n";
    [[maybe_unused]] const bool noted =
        ::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
    message_.clear();
    return State::kTaken;
}

void RunLock::Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace edi
