// The converters' one report channel: ERR.LOG, one line per report, code then text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace edi {

struct ConversionLog {
    std::filesystem::path file;  // ERR.LOG in the program's folder unless a caller points it elsewhere
    std::string ErrorCode;       // 4-digit code of the last failure reported; empty when none
};

// Appends the line: the code as 4 digits directly followed by the text, in code page 932,
// with the platform's line end. A non-zero code sets ErrorCode unless keep_code is 1
// (a warning). The file is opened and closed for every line. Returns false when the line
// could not be appended; ErrorCode is set all the same.
bool WriteErrorLog(ConversionLog& log, std::int32_t code, std::string_view text, std::int16_t keep_code = 0);

// "0000" formatting of a code: four digits, zero-padded; wider numbers keep all their digits.
std::string FormatCode(std::int32_t code);

}  // namespace edi
