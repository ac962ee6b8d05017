// The project's one character-code module: UTF-8 text inside the program,
// code page 932 (Shift-JIS) bytes in records, files and converter buffers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace edi {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Byte classes of code page 932.
inline constexpr bool IsLeadByte(std::uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
inline constexpr bool IsHalfWidthKana(std::uint8_t b) { return b >= 0xA1 && b <= 0xDF; }

// Length in bytes of the character starting at bytes[pos]: 2 for a lead byte with a byte after it, else 1.
inline std::size_t CharLengthAt(ByteView bytes, std::size_t pos) {
    return (IsLeadByte(bytes[pos]) && pos + 1 < bytes.size()) ? 2 : 1;
}

// UTF-8 text to code page 932. A character the code page cannot hold, or a broken
// UTF-8 sequence, becomes "?" (0x3F), as the platform's own conversion does.
Bytes ToAnsiBytes(std::string_view text);
// The same onto the end of out; returns how many characters became "?".
std::size_t AppendAnsiBytes(std::string_view text, Bytes& out);

// Code page 932 bytes to UTF-8 text. A byte that starts no valid character (a lone
// lead byte at the end, an unassigned code) becomes U+FFFD.
std::string ToUnicodeText(ByteView bytes);
inline std::string ToUnicodeText(std::string_view raw) {
    return ToUnicodeText(ByteView(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()));
}

// True when the text survives the round trip to code page 932 and back unchanged.
bool IsAnsiText(std::string_view text);

// Byte length in code page 932 for text that counts as ANSI; for any other text
// (one holding a character outside the code page) the size of its UTF-16 storage.
std::int32_t AnsiLenB(std::string_view text);

// The first n bytes of the text's code-page form, back as text. Cuts on bytes, not
// characters: a split double-byte character leaves U+FFFD. Text that does not count
// as ANSI is cut on its UTF-16 storage instead.
std::string AnsiLeftB(std::string_view text, std::int32_t n);

// Bytes start .. start + count - 1 (1-based; to the end without count), back as text.
// A start below 1 is an error of the cut: the result is empty (std::nullopt).
std::optional<std::string> AnsiMidB(std::string_view text, std::int32_t start,
                                    std::optional<std::int32_t> count = std::nullopt);

// Half-width characters to their full-width forms: ASCII to U+FF01..U+FF5E (space to
// U+3000), half-width katakana to full-width katakana with a following voiced or
// semi-voiced mark folded into the kana it belongs to. Everything else is kept.
std::string ToFullWidth(std::string_view text);

// UTF-8 helpers shared by the modules that count characters.
std::size_t Utf8CharCount(std::string_view text);
std::string TrimBlanks(std::string_view text);  // spaces and tabs removed at both ends

}  // namespace edi
