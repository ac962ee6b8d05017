// The converters' one report channel: ERR.LOG, one line per report, code then text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace edi {

class FileWarnings;

struct ConversionLog {
    std::filesystem::path file;  // ERR.LOG in the program's folder unless a caller points it elsewhere
    std::string ErrorCode;       // 4-digit code of the last failure reported; empty when none
    FileWarnings* warnings = nullptr;  // while a file is converted: its warning lines per code
};

// Appends the line: the code as 4 digits directly followed by the text, in code page 932,
// with the platform's line end. A non-zero code sets ErrorCode unless keep_code is 1
// (a warning). The file is opened and closed for every line. Returns false when the line
// could not be appended; ErrorCode is set all the same. While a FileWarnings is in place a
// warning beyond its code's bound is only counted.
bool WriteErrorLog(ConversionLog& log, std::int32_t code, std::string_view text, std::int16_t keep_code = 0);

// Bounds the warnings of one converted file, so that a damaged or foreign file cannot flood the
// log: at most kLinesPerCode lines per warning code; the rest are counted, and when the file is
// done one line per such code says how many were left out ("0008--15951 more left out--").
// Failures and start lines are never held back. A FileWarnings inside another does nothing.
class FileWarnings {
public:
    static constexpr std::int64_t kLinesPerCode = 50;

    explicit FileWarnings(ConversionLog& log);
    ~FileWarnings();
    FileWarnings(const FileWarnings&) = delete;
    FileWarnings& operator=(const FileWarnings&) = delete;

    // True when a warning line of the code may still be written; otherwise it is counted.
    bool Admit(std::int32_t code);

private:
    struct Tally {
        std::int32_t code;
        std::int64_t lines;
    };
    ConversionLog& log_;
    bool owner_;
    std::vector<Tally> tallies_;
};

// "0000" formatting of a code: four digits, zero-padded; wider numbers keep all their digits.
std::string FormatCode(std::int32_t code);

}  // namespace edi
