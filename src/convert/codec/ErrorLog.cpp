#include "convert/codec/ErrorLog.h"

#include <cstdio>
#include <memory>

#include "convert/codec/Codec.h"

namespace edi {

std::string FormatCode(std::int32_t code) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d", code);
    return buffer;
}

bool WriteErrorLog(ConversionLog& log, std::int32_t code, std::string_view text, std::int16_t keep_code) {
    if (code != 0 && keep_code == 0) log.ErrorCode = FormatCode(code);

    Bytes line = ToAnsiBytes(FormatCode(code));
    AppendAnsiBytes(text, line);
    line.push_back('\n');

    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(log.file.c_str(), "ab"), &std::fclose);
    if (!file) return false;
    const bool written = std::fwrite(line.data(), 1, line.size(), file.get()) == line.size();
    return std::fflush(file.get()) == 0 && written;
}

}  // namespace edi
