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

FileWarnings::FileWarnings(ConversionLog& log) : log_(log), owner_(log.warnings == nullptr) {
    if (owner_) log_.warnings = this;
}

FileWarnings::~FileWarnings() {
    if (!owner_) return;
    log_.warnings = nullptr;
    for (const Tally& t : tallies_) {
        if (t.lines <= kLinesPerCode) continue;
        WriteErrorLog(log_, t.code, "--" + std::to_string(t.lines - kLinesPerCode) + " more left out--", 1);
    }
}

bool FileWarnings::Admit(std::int32_t code) {
    for (Tally& t : tallies_) {
        if (t.code == code) return ++t.lines <= kLinesPerCode;
    }
    tallies_.push_back(Tally{code, 1});
    return true;
}

bool WriteErrorLog(ConversionLog& log, std::int32_t code, std::string_view text, std::int16_t keep_code) {
    if (code != 0 && keep_code == 0) log.ErrorCode = FormatCode(code);
    if (code != 0 && keep_code != 0 && log.warnings != nullptr && !log.warnings->Admit(code)) return true;

    Bytes line = ToAnsiBytes(FormatCode(code));
    AppendAnsiBytes(text, line);
    line.push_back('\n');

    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(log.file.c_str(), "ab"), &std::fclose);
    if (!file) return false;
    const bool written = std::fwrite(line.data(), 1, line.size(), file.get()) == line.size();
    return std::fflush(file.get()) == 0 && written;
}

}  // namespace edi
