// The CII-syntax message file as both directions see it: 2-byte record kinds, the 249-byte
// group header and group end, data records (prefix, element area, 0xFE) and storage blocks.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "convert/ByteCopy.h"
#include "convert/ByteSink.h"
#include "convert/codec/Codec.h"
#include "convert/codec/ErrorLog.h"
#include "startup/Clock.h"

namespace edi {

inline constexpr std::size_t kCiiControlBodySize = 249;  // after the 2-byte kind
inline constexpr std::size_t kCiiShortPrefixSize = 9;
inline constexpr std::size_t kCiiLongPrefixSize = 17;
inline constexpr std::size_t kCiiMaxShortElementArea = 32759;  // a larger area takes the long prefix

// Bytes of the element area.
inline constexpr std::uint8_t kCiiTwoByteTags = 0xF0;  // tags are two bytes long from here on
inline constexpr std::uint8_t kCiiLongLength = 0xF2;   // a 2-byte length follows, high byte first
inline constexpr std::uint8_t kCiiGroupStart = 0xFA;   // in 2-byte mode followed by a 1-character number
inline constexpr std::uint8_t kCiiOccurrenceEnd = 0xFB;
inline constexpr std::uint8_t kCiiGroupEnd = 0xFC;
inline constexpr std::uint8_t kCiiNumberedGroupStart = 0xFD;  // followed by the number, high byte first
inline constexpr std::uint8_t kCiiMessageEnd = 0xFE;

// Codes this layout reports in ERR.LOG, both as warnings: the element is left out.
inline constexpr std::int32_t kCiiBadTagCode = 6;           // 項目№ has no tag form
inline constexpr std::int32_t kCiiElementTooLongCode = 16;  // value of 65536 bytes or more

enum class CiiRecordKind {
    kGroupHeader,   // "0" "C"
    kGroupEnd,      // "0" "E"
    kOtherControl,  // "0" and any other byte
    kData,          // "1".."9" then "D"
    kDigitNotData,  // "1".."9" then anything but "D"
    kUnknown,       // any other first byte
};
CiiRecordKind ClassifyRecordKind(std::uint8_t first, std::uint8_t second);

// Positions in the group header body (0-based, after the kind).
namespace cii_header {
inline constexpr std::size_t k運用モード = 0;     // 1: the first character's code
inline constexpr std::size_t k発信VANコード = 1;  // 12
inline constexpr std::size_t k発信センターコード = 13;
inline constexpr std::size_t k発信者コード = 25;
inline constexpr std::size_t k受信VANコード = 37;
inline constexpr std::size_t k受信センターコード = 49;
inline constexpr std::size_t k受信者コード = 61;
inline constexpr std::size_t kBpid = 73;  // 8 in three parts: 4, 2, 2
inline constexpr std::size_t kBpidLength = 8;
inline constexpr std::size_t k情報区分 = 93;  // 4
inline constexpr std::size_t k情報区分Length = 4;
inline constexpr std::size_t kStorageFlags = 103;              // 2: "11" mode M, "10" mode S, "20" messages dropped
inline constexpr std::size_t k交換参照番号 = 105;              // 10
inline constexpr std::size_t kDateTime = 115;                  // 12: yymmddhhmmss
inline constexpr std::size_t kシンタックスIDバージョン = 139;  // 6
inline constexpr std::size_t kFixedE = 145;                    // 1: "E"
inline constexpr std::size_t k格納モード = 146;                // 1
inline constexpr std::size_t k8ビット文字コード = 147;
inline constexpr std::size_t k16ビット文字コード = 148;
inline constexpr std::size_t k短縮表示 = 160;
inline constexpr std::size_t k発信VANコード管理機関コード = 161;  // 3 each, six in a row
}  // namespace cii_header

// One header field of the XML form (element JPMGH): its child element name and position.
struct CiiHeaderElement {
    std::string_view element;
    std::size_t offset;
    std::size_t length;
    std::string_view field;
    bool character_code;  // stored as one character's code (a space when empty), not packed
};
extern const std::array<CiiHeaderElement, 25> kCiiHeaderElements;

// The texts a group header is built from (a row of the message-group master).
struct CiiHeaderFields {
    std::string 運用モード;
    std::string 発信VANコード;
    std::string 発信センターコード;
    std::string 発信者コード;
    std::string 受信VANコード;
    std::string 受信センターコード;
    std::string 受信者コード;
    std::string BPID;
    std::string 情報区分;
    std::string 交換参照番号;
    std::string シンタックスIDバージョン;
    std::string 格納モード;
    std::string 文字コード8ビット;   // 8ビット文字コード
    std::string 文字コード16ビット;  // 16ビット文字コード
    std::string 短縮表示;
    std::string 発信VANコード管理機関コード;
    std::string 発信センターコード管理機関コード;
    std::string 発信者コード管理機関コード;
    std::string 受信VANコード管理機関コード;
    std::string 受信センターコード管理機関コード;
    std::string 受信者コード管理機関コード;
};

struct CiiGroupHeader {
    std::array<std::uint8_t, kCiiControlBodySize> body{};  // all zero until a header is read or built

    ByteView Field(std::size_t offset, std::size_t length) const { return ByteView(body).subspan(offset, length); }
    std::span<std::uint8_t> Field(std::size_t offset, std::size_t length) {
        return std::span<std::uint8_t>(body).subspan(offset, length);
    }
    std::string Bpid() const;      // offsets 73-80, trimmed
    std::string InfoKind() const;  // offsets 93-96, trimmed
    std::uint8_t StorageMode() const { return body[cii_header::k格納モード]; }
    std::uint8_t EightBitCode() const { return body[cii_header::k8ビット文字コード]; }
    std::uint8_t SixteenBitCode() const { return body[cii_header::k16ビット文字コード]; }
    bool StorageFlagsAre(std::string_view two) const;

    // Fills every position from the fields; the storage flags become "11" for mode "M" and
    // "10" for "S" and are left as they were for any other mode.
    void Fill(const CiiHeaderFields& fields, const LocalDateTime& now);
    // Spaces at the positions no XML element feeds, "E" at offset 145.
    void ResetUnfedPositions();
    // The text of one XML header element, trailing spaces removed; and the storing of one.
    std::string ElementText(const CiiHeaderElement& element) const;
    void SetElementText(const CiiHeaderElement& element, std::string_view text);
};

struct CiiGroupEnd {
    std::array<std::uint8_t, kCiiControlBodySize> body{};
    void Fill(std::int32_t message_count);  // "00000" then spaces
};

bool WriteGroupHeader(ByteSink& sink, const CiiGroupHeader& header);  // "0" "C" and the body
bool WriteGroupEnd(ByteSink& sink, const CiiGroupEnd& end);           // "0" "E" and the body

// Element encoding. Each returns the bytes written into out, 0 when there is no form.
// Tags: 1-byte mode 0-239; 2-byte mode 0-61439 as two bytes, 65536-524287 as three.
std::size_t EncodeTag(std::int32_t item_number, bool two_byte_tags, std::uint8_t (&out)[3]);
// Lengths: below 240 one byte, up to 65535 0xF2 and two bytes.
std::size_t EncodeLength(std::size_t length, std::uint8_t (&out)[3]);
// Group number in 2-byte mode: 0xFA c for one character "0"-"9"/"A"-"Z", 0xFD hi lo for 10-65535.
std::size_t EncodeGroupNumber(std::string_view multi_number, std::uint8_t (&out)[3]);

// A data record's prefix after its 2-byte kind: the 5-digit message number, then two length
// bytes (high first), or 0x80 0x80 followed by 0xF7 and 7 digits. The length covers prefix and
// element area, not the closing 0xFE.
struct CiiDataPrefix {
    std::int32_t message_number = 0;
    std::int32_t length = 0;
    std::size_t size = 0;  // 9 or 17, the kind included
};
enum class PrefixStatus {
    kDecoded,
    kNeedMore,  // fewer than 7 bytes, or the long form without its 8 further bytes
};
// Numbers are read as the platform reads a number from text: leading digits, blanks skipped.
PrefixStatus DecodeDataPrefix(ByteView after_kind, CiiDataPrefix& prefix);

enum class ElementStatus { kWritten, kBadTag, kTooLong };

// Builds one data record in a buffer kept from message to message.
class CiiMessageWriter {
public:
    explicit CiiMessageWriter(ConversionLog& log);

    void Begin(std::int32_t message_number);
    bool TwoByteTags() const { return two_byte_tags_; }
    // Writes 0xF0 and enters 2-byte mode; nothing when already there.
    void SwitchToTwoByteTags();
    // Group start: 0xFA in 1-byte mode; in 2-byte mode the numbered form (no 0xF0 in front:
    // a caller that wants one writes it with AppendMarker). False and nothing written when
    // the number has no form.
    bool AppendGroupStart(std::string_view multi_number);
    void AppendMarker(std::uint8_t marker);  // 0xF0, 0xFB, 0xFC as they stand
    std::uint8_t LastByte() const;           // 0 when the element area is empty
    void ReplaceLastByte(std::uint8_t b);
    // A byte already in the element area, by its offset from the area's start.
    void ReplaceAreaByte(std::size_t offset, std::uint8_t b);
    // Tag, length and value. An item numbered 240 or more switches to 2-byte mode first (also
    // when the element is then refused). A tag or length without a form is reported (codes 6
    // and 16, warnings) and the element left out.
    ElementStatus AppendElement(std::int32_t item_number, ByteView value);
    // The common case of AppendElement: one-byte tags, a tag below 240 and a value of 1 to 239
    // bytes. False (nothing written) for anything else.
    bool AppendShortElement(std::int32_t item_number, ByteView value) {
        if (two_byte_tags_ || item_number < 0 || item_number >= 240 || value.empty() || value.size() >= 240) {
            return false;
        }
        std::uint8_t* out = Extend(2 + value.size());
        out[0] = static_cast<std::uint8_t>(item_number);
        out[1] = static_cast<std::uint8_t>(value.size());
        CopyBytes(out + 2, value.data(), value.size());
        return true;
    }
    std::size_t ElementAreaSize() const { return used_ - kCiiLongPrefixSize; }
    // Appends 0xFE and puts the prefix in front. The record stays valid until the next Begin.
    // False when the area is too long even for the 7-digit length.
    bool Finish(ByteView& record);

private:
    // n more bytes at the end of the record, to be filled by the caller.
    std::uint8_t* Extend(std::size_t n) {
        if (used_ + n > buffer_.size()) buffer_.resize(std::max(2 * buffer_.size(), used_ + n));
        std::uint8_t* out = buffer_.data() + used_;
        used_ += n;
        return out;
    }

    ConversionLog& log_;
    Bytes buffer_;  // room for the long prefix, then the element area; used_ bytes of it hold the record
    std::size_t used_ = 0;
    std::int32_t message_number_ = 0;
    bool two_byte_tags_ = false;
};

enum class StoreResult { kWritten, kUnknownMode, kSinkFailed };

// Cuts a finished record into storage blocks by the header's storage mode: "S" 32001-byte
// blocks, " " and "M" 251-byte blocks padded with spaces at the end; any other mode writes nothing.
StoreResult WriteStorageBlocks(ByteSink& sink, ByteView record, std::uint8_t storage_mode);

}  // namespace edi
