#include "transfer/FileNaming.h"

#include <cstdio>

#include "convert/codec/Codec.h"

namespace edi {

namespace {

constexpr std::size_t kCenterPartLength = 12;

// Only half-width spaces surround a stored letter; other blanks are part of the value.
std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

std::string TransferName(std::int64_t serial, std::string_view marker, std::string_view center_code,
                         std::string_view kind) {
    std::string name = SerialPart(serial);
    name += marker;
    name += FileCenterCode(center_code);
    name += '.';
    name += kind;
    return name;
}

}  // namespace

std::string SerialPart(std::int64_t serial) {
    char buffer[32];
    if (serial < 0) {
        std::snprintf(buffer, sizeof buffer, "-%08llu", static_cast<unsigned long long>(-(serial + 1)) + 1ULL);
    } else {
        std::snprintf(buffer, sizeof buffer, "%08lld", static_cast<long long>(serial));
    }
    return buffer;
}

std::string FileCenterCode(std::string_view center_code) {
    std::string part(center_code);
    const std::size_t chars = Utf8CharCount(part);
    if (chars < kCenterPartLength) part.append(kCenterPartLength - chars, ' ');
    for (char& c : part) {
        if (c == ' ') c = '_';
    }
    return part;
}

std::string DataKindOf(std::string_view data_kind_letter) {
    const std::string_view letter = TrimSpaces(data_kind_letter);
    if (letter == "C" || letter == "c" || letter == "Ｃ" || letter == "ｃ") return "CII";
    if (letter == "X" || letter == "x" || letter == "Ｘ" || letter == "ｘ") return "XML";
    return "Err";
}

std::string ReceivedFileName(std::int64_t serial, std::string_view center_code, std::string_view kind) {
    return TransferName(serial, "_RCV_", center_code, kind);
}

std::string SendFileName(std::int64_t serial, std::string_view center_code, std::string_view kind) {
    return TransferName(serial, "_SND_", center_code, kind);
}

std::string PathInFolder(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    return path;
}

}  // namespace edi
