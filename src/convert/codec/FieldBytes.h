// Packing of text into fixed-length byte fields of code page 932, and back.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "convert/codec/Codec.h"

namespace edi {

// Result flags of a packing.
inline constexpr std::uint8_t kStoredSingleByte = 1;
inline constexpr std::uint8_t kStoredDoubleByte = 2;

// Packs the text's code-page form into the field, left-aligned, padded with spaces,
// cut at the field's end. A double-byte character never splits: when only its lead
// byte would fit in the last position, that position gets a space instead.
std::uint8_t TextToFieldBytes(std::span<std::uint8_t> field, std::string_view text);

// The same packing for text that is already code page 932 bytes.
std::uint8_t PackFieldBytes(std::span<std::uint8_t> field, ByteView sjis);

// Packs the text after its half-width characters have become full width.
void WideTextToFieldBytes(std::span<std::uint8_t> field, std::string_view text);

// The field's bytes as text, one character per byte: the character whose code is the
// byte (0x00..0xFF as U+0000..U+00FF), padding spaces kept.
std::string FieldBytesToText(ByteView field);

}  // namespace edi
