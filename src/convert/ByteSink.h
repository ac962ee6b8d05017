// Where converters write their output: a file (written under a temporary name and renamed
// over the target only when complete) or memory.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "convert/codec/Codec.h"

namespace edi {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual bool Write(ByteView bytes) = 0;  // false when the bytes could not all be written
};

class MemorySink final : public ByteSink {
public:
    bool Write(ByteView bytes) override {
        data.insert(data.end(), bytes.begin(), bytes.end());
        return true;
    }
    Bytes data;
};

// Writes to "<target>.<pid>-<n>.tmp" beside the target. Commit renames it over the target;
// without a successful Commit the temporary file is removed and the target stays as it was.
class FileSink final : public ByteSink {
public:
    enum class Mode {
        kReplace,  // the target's old content is dropped at Commit
        kAppend,   // the output follows the target's old content
    };
    FileSink() = default;
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    bool Open(const std::filesystem::path& target, Mode mode, std::string& error);
    bool Write(ByteView bytes) override;
    bool Commit(std::string& error);
    void Abandon();
    const std::filesystem::path& TemporaryPath() const { return temporary_; }

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    // The stream's buffer, given by the sink: the C library sizes a buffer of its own by the
    // file system's block (4 KB), whatever size it is asked for. It outlives the stream.
    std::unique_ptr<char[]> buffer_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_{nullptr, &std::fclose};
    bool failed_ = false;
};

}  // namespace edi
