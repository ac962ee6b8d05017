#include "transfer/FileMove.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "transfer/FileNaming.h"

namespace edi {
namespace {

namespace fs = std::filesystem;

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

std::string ErrnoText(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Hidden, so that nothing looking for a job's files by its serial ever picks it up.
fs::path HiddenPart(const fs::path& target) {
    fs::path part = target;
    part.replace_filename("." + target.filename().string());
    return part += ".part";
}

}  // namespace

bool CopyFileWhole(const std::string& source, const std::string& destination, std::string& reason, bool flush) {
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        reason = ErrnoText("cannot open", source);
        return false;
    }
    const fs::path target(destination);
    const fs::path part = HiddenPart(target);
    Fd out(::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (out.get() < 0) {
        reason = ErrnoText("cannot create", part.string());
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    while (ok) {
        const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            reason = ErrnoText("cannot read", source);
            ok = false;
        } else if (n == 0) {
            break;
        } else if (!WriteAll(out.get(), buffer.data(), static_cast<std::size_t>(n))) {
            reason = ErrnoText("cannot write", part.string());
            ok = false;
        }
    }
    // Flushed on its own, or written out now for the one flush of its folder that follows.
    const int written = flush ? ::fsync(out.get())
                              : ::sync_file_range(out.get(), 0, 0,
                                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                                      SYNC_FILE_RANGE_WAIT_AFTER);
    if (ok && written != 0) {
        reason = ErrnoText(flush ? "cannot flush" : "cannot write out", part.string());
        ok = false;
    }
    if (::close(out.Release()) != 0 && ok) {
        reason = ErrnoText("cannot close", part.string());
        ok = false;
    }
    std::error_code ec;
    if (ok) {
        fs::rename(part, target, ec);
        if (ec) {
            reason = "cannot rename " + part.string() + " to " + destination + ": " + ec.message();
            ok = false;
        }
    }
    if (!ok) fs::remove(part, ec);
    return ok;
}

bool ArchiveFile(const std::string& source, const std::string& destination, std::string& reason) {
    if (::link(source.c_str(), destination.c_str()) == 0) return true;
    if (errno == EEXIST) {
        std::error_code ec;
        if (fs::equivalent(source, destination, ec) && !ec) return true;  // archived before
        // An older copy of the name is replaced at once: the new name is made beside it first.
        const fs::path part = HiddenPart(destination);
        fs::remove(part, ec);
        if (::link(source.c_str(), part.c_str()) == 0) {
            fs::rename(part, destination, ec);
            if (!ec) return true;
            fs::remove(part, ec);
        }
    }
    return CopyFileWhole(source, destination, reason, false);
}

bool FlushFile(const std::string& path, std::string& reason) {
    Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0 || ::fsync(file.get()) != 0) {
        reason = ErrnoText("cannot flush", path);
        return false;
    }
    return true;
}

bool FlushFolder(const std::string& folder, std::string& reason) {
    return FlushFile(folder.empty() ? "." : folder, reason);
}

int MoveFile(const std::string& source, const std::string& destination) {
    std::error_code ec;
    const fs::file_status status = fs::status(source, ec);
    if (ec || !fs::is_regular_file(status)) return 1;
    // A file already at its destination is moved: copying it onto itself and deleting the
    // source would delete the only copy.
    if (fs::equivalent(source, destination, ec) && !ec) return 0;
    // Within one file system the file only changes its name, at once and whole.
    if (::rename(source.c_str(), destination.c_str()) == 0) return 0;
    if (errno != EXDEV) return 9;
    std::string reason;
    if (!CopyFileWhole(source, destination, reason)) return 9;
    if (!fs::remove(source, ec) || ec) return 9;
    return 0;
}

bool IsSendDirection(const std::string& direction) {
    return direction == "S" || direction == "s" || direction == "Ｓ" || direction == "ｓ";
}

bool IsReceiveDirection(const std::string& direction) {
    return direction == "R" || direction == "r" || direction == "Ｒ" || direction == "ｒ";
}

void MoveTransferFile(const WorkArea& work, FileMoveRequest& request) {
    request.Result = "9999";
    const std::string kind = DataKindOf(request.DataKind);
    if (kind == "Err") return;
    const auto serial = static_cast<std::int64_t>(std::llround(request.Serial));
    if (IsSendDirection(request.Direction)) {
        const std::string source = PathInFolder(work.EDIOUTFIL, SendFileName(serial, request.CenterCode, kind));
        std::string reason;
        if (CopyFileWhole(source, request.LinkPath, reason)) request.Result = "0000";
    } else if (IsReceiveDirection(request.Direction)) {
        const std::string destination = PathInFolder(work.EDIINFIL, ReceivedFileName(serial, request.CenterCode, kind));
        if (MoveFile(request.LinkPath, destination) == 0) request.Result = "0000";
    }
}

}  // namespace edi
