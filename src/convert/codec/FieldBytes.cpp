#include "convert/codec/FieldBytes.h"

#include <algorithm>

namespace edi {

std::uint8_t PackFieldBytes(std::span<std::uint8_t> field, ByteView sjis) {
    std::uint8_t flags = 0;
    std::size_t i = 0;
    std::size_t src = 0;
    while (i < field.size() && src < sjis.size()) {
        const std::size_t len = CharLengthAt(sjis, src);
        if (len == 2) {
            if (i + 1 >= field.size()) break;  // no room for the trail byte: pad instead
            field[i] = sjis[src];
            field[i + 1] = sjis[src + 1];
            flags |= kStoredDoubleByte;
        } else {
            field[i] = sjis[src];
            flags |= kStoredSingleByte;
        }
        i += len;
        src += len;
    }
    std::fill(field.begin() + static_cast<std::ptrdiff_t>(i), field.end(), std::uint8_t{0x20});
    return flags;
}

std::uint8_t TextToFieldBytes(std::span<std::uint8_t> field, std::string_view text) {
    return PackFieldBytes(field, ToAnsiBytes(text));
}

void WideTextToFieldBytes(std::span<std::uint8_t> field, std::string_view text) {
    PackFieldBytes(field, ToAnsiBytes(ToFullWidth(text)));
}

std::string FieldBytesToText(ByteView field) {
    std::string out;
    out.reserve(field.size());
    for (const std::uint8_t b : field) {
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return out;
}

}  // namespace edi
