// Fakes and helpers shared by the test suites.
#pragma once

#include <deque>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "convert/codec/Codec.h"
#include "startup/Clock.h"
#include "startup/MessageBox.h"

namespace edi::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    explicit TempDir(const std::filesystem::path& parent);  // a folder inside parent
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, ByteView bytes);
void WriteFile(const std::filesystem::path& path, std::string_view raw);
// Writes UTF-8 text as code page 932 bytes.
void WriteSjisFile(const std::filesystem::path& path, std::string_view utf8);
Bytes ReadFile(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);  // raw bytes as a string
// The files of a folder under tests/data, sorted (a fuzz target's kept seeds, for their replay).
std::vector<std::filesystem::path> DataFiles(std::string_view folder);

// Bytes from a hex text such as "41 42 8E 9F"; blanks between bytes are ignored.
Bytes Hex(std::string_view hex);

// Records every message box and answers from a queue set in advance (OK, or Yes for a question).
class RecordedMessageBoxes final : public MessageBoxes {
public:
    MessageAnswer Show(const MessageRequest& request) override;
    void SetNextAnswer(MessageAnswer answer) { answers_.push_back(answer); }
    const std::vector<MessageRequest>& shown() const { return shown_; }

private:
    std::vector<MessageRequest> shown_;
    std::deque<MessageAnswer> answers_;
};

// A clock fixed at a time that tests set and move.
class FixedClock final : public Clock {
public:
    explicit FixedClock(LocalDateTime t) : now_(t) {}
    LocalDateTime Now() const override { return now_; }
    void Set(LocalDateTime t) { now_ = t; }

private:
    LocalDateTime now_;
};

}  // namespace edi::test
