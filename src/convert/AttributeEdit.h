// Element values between a CII data element and a local field: Shift-JIS / JIS / UTF-16
// conversion of double-byte data and the editing of a value by its attribute pair.
// Values stay in code page 932 bytes; every function appends to or refills a buffer the
// caller keeps for the whole file, so nothing is allocated per field once it has grown.
#pragma once

#include <string>
#include <string_view>

#include "convert/RecordFormat.h"
#include "convert/codec/Codec.h"
#include "convert/codec/ErrorLog.h"

namespace edi {

// Code 21: an attribute pair that EditForLocal does not know (a warning).
inline constexpr std::int32_t kUnknownAttributePair = 21;
// Code 22: a number with more digits than its field holds, cut to its rightmost ones (a warning).
inline constexpr std::int32_t kNumberTooLong = 22;

// Element bytes as UTF-8 text: a Shift-JIS lead byte joins the byte after it into one character.
std::string BytesToText(ByteView bytes);

// Number of characters in Shift-JIS bytes (a lead byte with a byte after it counts once).
std::size_t CharCount(ByteView sjis);

// JIS X 0208 byte pairs to Shift-JIS pairs, by arithmetic (no check of the code). An odd last
// byte is copied unchanged.
void JisToShiftJis(ByteView jis, Bytes& out);
// Shift-JIS to JIS X 0208 byte pairs; single-byte characters (ASCII, half-width katakana) and a
// lead byte without its trail byte are copied unchanged.
void ShiftJisToJis(ByteView sjis, Bytes& out);

// Double-byte data from one character code to another. The direction is two letters, source
// then target: "M" Shift-JIS, "S" JIS pairs without escapes, "U" UTF-16 high byte first.
// out is cleared first.
void DoubleBytesToText(ByteView bytes, std::string_view direction, Bytes& out);

// The element's value shaped for the local field by the pair (message 属性, local 属性).
// double_byte_direction is the header's 16-bit character code followed by "M". out is
// cleared first; an unknown pair leaves it empty, logs code 21 as a warning and returns false.
// Numbers ("9N", "99", "N9", "NN") always come out exactly as wide as the local field, with the
// point where the local item has decimals; one too long for it is cut and logged (code 22).
bool EditForLocal(ByteView element, const RecordFormatItem& local_item, const RecordFormatItem& message_item,
                  std::string_view double_byte_direction, ConversionLog& log, Bytes& out);

}  // namespace edi
