#include "convert/CiiLayout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "convert/codec/FieldBytes.h"

namespace edi {

const std::array<CiiHeaderElement, 25> kCiiHeaderElements = {{
    {"JPC03", 0, 1, "運用モード", true},
    {"JPC04", 1, 12, "発信VANコード", false},
    {"JPC05", 13, 12, "発信センターコード", false},
    {"JPC06", 25, 12, "発信者コード", false},
    {"JPC07", 37, 12, "受信VANコード", false},
    {"JPC08", 49, 12, "受信センターコード", false},
    {"JPC09", 61, 12, "受信者コード", false},
    {"JPC10", 73, 4, "BPID 1-4", false},
    {"JPC11", 77, 2, "BPID 5-6", false},
    {"JPC12", 79, 2, "BPID 7-8", false},
    {"JPC14", 93, 4, "情報区分", false},
    {"JPC17", 103, 2, "格納モードフラグ", false},
    {"JPC18", 105, 10, "交換参照番号", false},
    {"JPC19", 115, 12, "作成日時", false},
    {"JPC21", 139, 6, "シンタックスIDバージョン", false},
    {"JPC23", 146, 1, "格納モード", false},
    {"JPC24", 147, 1, "8ビット文字コード", false},
    {"JPC25", 148, 1, "16ビット文字コード", false},
    {"JPC29", 160, 1, "短縮表示", false},
    {"JPC30", 161, 3, "発信VANコード管理機関コード", false},
    {"JPC31", 164, 3, "発信センターコード管理機関コード", false},
    {"JPC32", 167, 3, "発信者コード管理機関コード", false},
    {"JPC33", 170, 3, "受信VANコード管理機関コード", false},
    {"JPC34", 173, 3, "受信センターコード管理機関コード", false},
    {"JPC35", 176, 3, "受信者コード管理機関コード", false},
}};

namespace {

// Spaces that no field feeds: offset and length.
constexpr std::pair<std::size_t, std::size_t> kBlankRuns[] = {{81, 12}, {97, 3},  {100, 3}, {127, 12},
                                                              {149, 1}, {150, 5}, {155, 5}, {179, 70}};

std::string TrimmedText(ByteView field) {
    std::size_t first = 0;
    std::size_t last = field.size();
    while (first < last && field[first] == ' ') ++first;
    while (last > first && field[last - 1] == ' ') --last;
    return ToUnicodeText(field.subspan(first, last - first));
}

void PutDigits(std::uint32_t value, std::uint8_t* out, std::size_t width) {
    for (std::size_t i = width; i-- > 0; value /= 10) out[i] = static_cast<std::uint8_t>('0' + value % 10);
}

}  // namespace

CiiRecordKind ClassifyRecordKind(std::uint8_t first, std::uint8_t second) {
    if (first == '0') {
        if (second == 'C') return CiiRecordKind::kGroupHeader;
        if (second == 'E') return CiiRecordKind::kGroupEnd;
        return CiiRecordKind::kOtherControl;
    }
    if (first >= '1' && first <= '9') return second == 'D' ? CiiRecordKind::kData : CiiRecordKind::kDigitNotData;
    return CiiRecordKind::kUnknown;
}

std::string CiiGroupHeader::Bpid() const { return TrimmedText(Field(cii_header::kBpid, cii_header::kBpidLength)); }

std::string CiiGroupHeader::InfoKind() const {
    return TrimmedText(Field(cii_header::k情報区分, cii_header::k情報区分Length));
}

bool CiiGroupHeader::StorageFlagsAre(std::string_view two) const {
    return two.size() == 2 && body[cii_header::kStorageFlags] == static_cast<std::uint8_t>(two[0]) &&
           body[cii_header::kStorageFlags + 1] == static_cast<std::uint8_t>(two[1]);
}

void CiiGroupHeader::ResetUnfedPositions() {
    for (const auto& [offset, length] : kBlankRuns) std::fill_n(body.begin() + offset, length, std::uint8_t{' '});
    body[cii_header::kFixedE] = 'E';
}

std::string CiiGroupHeader::ElementText(const CiiHeaderElement& element) const {
    const ByteView field = Field(element.offset, element.length);
    if (element.character_code) return ToUnicodeText(field);
    std::size_t end = field.size();
    while (end > 0 && field[end - 1] == ' ') --end;
    return ToUnicodeText(field.first(end));
}

void CiiGroupHeader::SetElementText(const CiiHeaderElement& element, std::string_view text) {
    if (element.character_code) {
        const Bytes sjis = ToAnsiBytes(text);
        body[element.offset] = sjis.empty() ? std::uint8_t{' '} : sjis.front();
        return;
    }
    TextToFieldBytes(Field(element.offset, element.length), text);
}

void CiiGroupHeader::Fill(const CiiHeaderFields& f, const LocalDateTime& now) {
    namespace h = cii_header;
    auto set = [this](std::size_t offset, std::size_t length, std::string_view text) {
        TextToFieldBytes(Field(offset, length), text);
    };
    const Bytes mode = ToAnsiBytes(f.運用モード);
    body[h::k運用モード] = mode.empty() ? std::uint8_t{' '} : mode.front();
    set(h::k発信VANコード, 12, f.発信VANコード);
    set(h::k発信センターコード, 12, f.発信センターコード);
    set(h::k発信者コード, 12, f.発信者コード);
    set(h::k受信VANコード, 12, f.受信VANコード);
    set(h::k受信センターコード, 12, f.受信センターコード);
    set(h::k受信者コード, 12, f.受信者コード);
    // The BPID is cut into characters 1-4, 5-6 and 7-8, each packed into its own field.
    const Bytes bpid = ToAnsiBytes(f.BPID);
    const ByteView whole(bpid);
    auto part = [&whole](std::size_t from, std::size_t count) {
        return from >= whole.size() ? ByteView() : whole.subspan(from, std::min(count, whole.size() - from));
    };
    PackFieldBytes(Field(h::kBpid, 4), part(0, 4));
    PackFieldBytes(Field(h::kBpid + 4, 2), part(4, 2));
    PackFieldBytes(Field(h::kBpid + 6, 2), part(6, 2));
    set(h::k情報区分, 4, f.情報区分);
    if (f.格納モード == "M") {
        set(h::kStorageFlags, 2, "11");
    } else if (f.格納モード == "S") {
        set(h::kStorageFlags, 2, "10");
    }
    set(h::k交換参照番号, 10, f.交換参照番号);
    std::uint8_t* stamp = body.data() + h::kDateTime;  // yymmddhhmmss
    const int parts[] = {now.year, now.month, now.day, now.hour, now.minute, now.second};
    for (std::size_t i = 0; i < 6; ++i)
        PutDigits(static_cast<std::uint32_t>(parts[i] < 0 ? 0 : parts[i] % 100), stamp + 2 * i, 2);
    set(h::kシンタックスIDバージョン, 6, f.シンタックスIDバージョン);
    set(h::k格納モード, 1, f.格納モード);
    set(h::k8ビット文字コード, 1, f.文字コード8ビット);
    set(h::k16ビット文字コード, 1, f.文字コード16ビット);
    set(h::k短縮表示, 1, f.短縮表示);
    const std::string* agencies[] = {&f.発信VANコード管理機関コード,      &f.発信センターコード管理機関コード,
                                     &f.発信者コード管理機関コード,       &f.受信VANコード管理機関コード,
                                     &f.受信センターコード管理機関コード, &f.受信者コード管理機関コード};
    for (std::size_t i = 0; i < 6; ++i) set(h::k発信VANコード管理機関コード + 3 * i, 3, *agencies[i]);
    ResetUnfedPositions();
}

void CiiGroupEnd::Fill(std::int32_t message_count) {
    char count[16];
    std::snprintf(count, sizeof count, "%05d", message_count);
    TextToFieldBytes(std::span<std::uint8_t>(body).first(5), count);  // a sixth digit is cut
    std::fill(body.begin() + 5, body.end(), std::uint8_t{' '});
}

bool WriteGroupHeader(ByteSink& sink, const CiiGroupHeader& header) {
    static constexpr std::uint8_t kKind[] = {'0', 'C'};
    return sink.Write(kKind) && sink.Write(header.body);
}

bool WriteGroupEnd(ByteSink& sink, const CiiGroupEnd& end) {
    static constexpr std::uint8_t kKind[] = {'0', 'E'};
    return sink.Write(kKind) && sink.Write(end.body);
}

std::size_t EncodeTag(std::int32_t item_number, bool two_byte_tags, std::uint8_t (&out)[3]) {
    if (item_number < 0) return 0;
    const auto n = static_cast<std::uint32_t>(item_number);
    if (!two_byte_tags) {
        if (n > 239) return 0;
        out[0] = static_cast<std::uint8_t>(n);
        return 1;
    }
    if (n < 0xF000) {
        out[0] = static_cast<std::uint8_t>(n >> 8);
        out[1] = static_cast<std::uint8_t>(n & 0xFF);
        return 2;
    }
    if (n >= 0x10000 && n <= 0x7FFFF) {
        out[0] = static_cast<std::uint8_t>(0xF0 + (n >> 16));
        out[1] = static_cast<std::uint8_t>((n >> 8) & 0xFF);
        out[2] = static_cast<std::uint8_t>(n & 0xFF);
        return 3;
    }
    return 0;
}

std::size_t EncodeLength(std::size_t length, std::uint8_t (&out)[3]) {
    if (length < 240) {
        out[0] = static_cast<std::uint8_t>(length);
        return 1;
    }
    if (length > 0xFFFF) return 0;
    out[0] = kCiiLongLength;
    out[1] = static_cast<std::uint8_t>(length >> 8);
    out[2] = static_cast<std::uint8_t>(length & 0xFF);
    return 3;
}

std::size_t EncodeGroupNumber(std::string_view multi_number, std::uint8_t (&out)[3]) {
    if (multi_number.size() == 1) {
        const char c = multi_number[0];
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) {
            out[0] = kCiiGroupStart;
            out[1] = static_cast<std::uint8_t>(c);
            return 2;
        }
        return 0;
    }
    if (multi_number.empty() || multi_number.size() > 5) return 0;
    std::uint32_t value = 0;
    for (const char c : multi_number) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value < 10 || value > 0xFFFF) return 0;
    out[0] = kCiiNumberedGroupStart;
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value & 0xFF);
    return 3;
}

PrefixStatus DecodeDataPrefix(ByteView after_kind, CiiDataPrefix& prefix) {
    auto digits = [](ByteView text) {
        std::int32_t value = 0;
        for (const std::uint8_t b : text) {
            if (b == ' ') continue;
            if (b < '0' || b > '9') break;
            value = value * 10 + (b - '0');
        }
        return value;
    };
    if (after_kind.size() < 7) return PrefixStatus::kNeedMore;
    prefix.message_number = digits(after_kind.first(5));
    if (after_kind[5] == 0x80 && after_kind[6] == 0x80) {
        if (after_kind.size() < 15) return PrefixStatus::kNeedMore;
        prefix.length = digits(after_kind.subspan(8, 7));  // after the 0xF7 marker
        prefix.size = kCiiLongPrefixSize;
    } else {
        prefix.length = after_kind[5] * 256 + after_kind[6];
        prefix.size = kCiiShortPrefixSize;
    }
    return PrefixStatus::kDecoded;
}

CiiMessageWriter::CiiMessageWriter(ConversionLog& log) : log_(log) {
    buffer_.resize(64 * 1024);
    Begin(0);
}

void CiiMessageWriter::Begin(std::int32_t message_number) {
    std::fill_n(buffer_.begin(), kCiiLongPrefixSize, std::uint8_t{0});
    used_ = kCiiLongPrefixSize;
    message_number_ = message_number;
    two_byte_tags_ = false;
}

void CiiMessageWriter::SwitchToTwoByteTags() {
    if (two_byte_tags_) return;
    *Extend(1) = kCiiTwoByteTags;
    two_byte_tags_ = true;
}

bool CiiMessageWriter::AppendGroupStart(std::string_view multi_number) {
    if (!two_byte_tags_) {
        *Extend(1) = kCiiGroupStart;
        return true;
    }
    std::uint8_t bytes[3];
    const std::size_t n = EncodeGroupNumber(multi_number, bytes);
    std::copy(bytes, bytes + n, Extend(n));
    return n != 0;
}

void CiiMessageWriter::AppendMarker(std::uint8_t marker) { *Extend(1) = marker; }

std::uint8_t CiiMessageWriter::LastByte() const {
    return used_ > kCiiLongPrefixSize ? buffer_[used_ - 1] : std::uint8_t{0};
}

void CiiMessageWriter::ReplaceLastByte(std::uint8_t b) {
    if (used_ > kCiiLongPrefixSize) buffer_[used_ - 1] = b;
}

void CiiMessageWriter::ReplaceAreaByte(std::size_t offset, std::uint8_t b) {
    if (offset < ElementAreaSize()) buffer_[kCiiLongPrefixSize + offset] = b;
}

ElementStatus CiiMessageWriter::AppendElement(std::int32_t item_number, ByteView value) {
    if (item_number >= 240) SwitchToTwoByteTags();
    std::uint8_t tag[3];
    std::uint8_t length[3];
    const std::size_t tag_size = EncodeTag(item_number, two_byte_tags_, tag);
    if (tag_size == 0) {
        WriteErrorLog(log_, kCiiBadTagCode, "項目№=" + std::to_string(item_number), 1);
        return ElementStatus::kBadTag;
    }
    const std::size_t length_size = EncodeLength(value.size(), length);
    if (length_size == 0) {
        WriteErrorLog(log_, kCiiElementTooLongCode,
                      "項目№=" + std::to_string(item_number) + " 長さ=" + std::to_string(value.size()), 1);
        return ElementStatus::kTooLong;
    }
    std::uint8_t* out = Extend(tag_size + length_size + value.size());
    std::memcpy(out, tag, tag_size);
    std::memcpy(out + tag_size, length, length_size);
    if (!value.empty()) std::memcpy(out + tag_size + length_size, value.data(), value.size());
    return ElementStatus::kWritten;
}

bool CiiMessageWriter::Finish(ByteView& record) {
    const std::size_t area = ElementAreaSize();
    if (area + kCiiLongPrefixSize > 9999999) return false;
    *Extend(1) = kCiiMessageEnd;
    // The message number keeps its last five digits.
    const auto number = static_cast<std::uint32_t>(message_number_ < 0 ? 0 : message_number_ % 100000);
    std::size_t start = 0;
    if (area <= kCiiMaxShortElementArea) {
        start = kCiiLongPrefixSize - kCiiShortPrefixSize;
        std::uint8_t* p = buffer_.data() + start;
        const std::size_t total = area + kCiiShortPrefixSize;
        p[0] = '9';
        p[1] = 'D';
        PutDigits(number, p + 2, 5);
        p[7] = static_cast<std::uint8_t>(total >> 8);
        p[8] = static_cast<std::uint8_t>(total & 0xFF);
    } else {
        std::uint8_t* p = buffer_.data();
        p[0] = '9';
        p[1] = 'D';
        PutDigits(number, p + 2, 5);
        p[7] = 0x80;
        p[8] = 0x80;
        p[9] = 0xF7;
        PutDigits(static_cast<std::uint32_t>(area + kCiiLongPrefixSize), p + 10, 7);
    }
    record = ByteView(buffer_.data() + start, used_ - start);
    return true;
}

StoreResult WriteStorageBlocks(ByteSink& sink, ByteView record, std::uint8_t storage_mode) {
    std::size_t block = 0;
    if (storage_mode == 'S') {
        block = 32001;
    } else if (storage_mode == ' ' || storage_mode == 'M') {
        block = 251;
    } else {
        return StoreResult::kUnknownMode;
    }
    if (record.empty()) return StoreResult::kWritten;
    // Every block but the last replaces the leading byte by a continuation digit "1".."8" (then
    // "1" again) and carries block - 1 bytes of the record after its leading byte; the last
    // block keeps the record's own leading byte.
    const std::uint8_t lead = record[0];
    ByteView data = record.subspan(1);
    std::uint8_t digit = '1';
    while (data.size() > block - 1) {
        if (!sink.Write(ByteView(&digit, 1)) || !sink.Write(data.first(block - 1))) return StoreResult::kSinkFailed;
        data = data.subspan(block - 1);
        digit = digit == '8' ? std::uint8_t{'1'} : static_cast<std::uint8_t>(digit + 1);
    }
    if (!sink.Write(ByteView(&lead, 1)) || !sink.Write(data)) return StoreResult::kSinkFailed;
    if (block == 251) {
        static constexpr std::array<std::uint8_t, 251> kSpaces = [] {
            std::array<std::uint8_t, 251> a{};
            a.fill(' ');
            return a;
        }();
        if (!sink.Write(ByteView(kSpaces).first(block - 1 - data.size()))) return StoreResult::kSinkFailed;
    }
    return StoreResult::kWritten;
}

}  // namespace edi
