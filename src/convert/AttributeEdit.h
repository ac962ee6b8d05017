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

// EditForLocal worked out once for an item pair: which edit the pair takes and the lengths it
// needs, so that a converter applies it to every element of the item without looking at the
// attributes again.
struct LocalEdit {
    enum class Kind : std::uint8_t {
        kText,           // "XX"
        kWide,           // "KK"
        kDate,           // "Y9", "YY", "9Y"
        kDecimalNumber,  // "9N", "99"
        kNumber,         // "N9", "NN"
        kUnknown,        // any other pair: code 21
    };
    Kind kind = Kind::kUnknown;
    bool plain_double_bytes = false;  // "KK" whose direction copies the bytes as they are
    std::int32_t local_length = 0;
    std::int32_t local_decimals = 0;
    std::int32_t message_length = 0;
    std::int32_t message_decimals = 0;
    std::int32_t item_number = 0;  // the message item's 項目№, for code 22
    std::string direction;
};
LocalEdit PlanLocalEdit(const RecordFormatItem& local_item, const RecordFormatItem& message_item,
                        std::string_view double_byte_direction);
// EditForLocal by the plan.
bool ApplyLocalEdit(const LocalEdit& edit, ByteView element, ConversionLog& log, Bytes& out);

// A local record being built: values go in as PutIntoRecord places them (the record growing up
// to limit bytes), straight into it when they lie inside it, else by way of scratch.
struct LocalRecordTarget {
    Bytes& record;
    std::size_t limit;
    Bytes& scratch;
    ConversionLog& log;
};
// ApplyLocalEdit with the value placed into the record from the 1-based position.
bool PlaceLocalEdit(const LocalEdit& edit, ByteView element, std::int64_t position, LocalRecordTarget& target);

}  // namespace edi
