#include "convert/ByteSink.h"

#include <unistd.h>

#include <atomic>
#include <system_error>

namespace edi {

FileSink::~FileSink() { Abandon(); }

bool FileSink::Open(const std::filesystem::path& target, Mode mode, std::string& error) {
    Abandon();
    static std::atomic<unsigned> counter{0};
    target_ = target;
    temporary_ = target;
    temporary_ += "." + std::to_string(getpid()) + "-" + std::to_string(++counter) + ".tmp";
    failed_ = false;

    std::error_code ec;
    if (mode == Mode::kAppend && std::filesystem::exists(target, ec)) {
        std::filesystem::copy_file(target, temporary_, std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) {
            error = "cannot copy " + target.string() + ": " + ec.message();
            std::filesystem::remove(temporary_, ec);
            temporary_.clear();
            return false;
        }
    }
    file_.reset(std::fopen(temporary_.c_str(), mode == Mode::kAppend ? "ab" : "wb"));
    if (!file_) {
        error = "cannot open " + temporary_.string();
        std::filesystem::remove(temporary_, ec);
        temporary_.clear();
        return false;
    }
    constexpr std::size_t kBufferSize = 256 * 1024;
    if (!buffer_) buffer_ = std::make_unique<char[]>(kBufferSize);
    std::setvbuf(file_.get(), buffer_.get(), _IOFBF, kBufferSize);
    return true;
}

bool FileSink::Write(ByteView bytes) {
    if (!file_ || failed_) return false;
    // One thread owns a sink: the stream's lock is not needed.
    if (!bytes.empty() && fwrite_unlocked(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size()) failed_ = true;
    return !failed_;
}

bool FileSink::Commit(std::string& error) {
    if (!file_) {
        error = "nothing open";
        return false;
    }
    const bool flushed = std::fflush(file_.get()) == 0 && !failed_;
    const bool closed = std::fclose(file_.release()) == 0;
    if (!flushed || !closed) {
        error = "cannot write " + temporary_.string();
        Abandon();
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(temporary_, target_, ec);
    if (ec) {
        error = "cannot rename " + temporary_.string() + " to " + target_.string() + ": " + ec.message();
        Abandon();
        return false;
    }
    temporary_.clear();
    return true;
}

void FileSink::Abandon() {
    file_.reset();
    if (!temporary_.empty()) {
        std::error_code ec;
        std::filesystem::remove(temporary_, ec);
        temporary_.clear();
    }
}

}  // namespace edi
