#include "convert/AttributeEdit.h"

#include <algorithm>
#include <cstring>

#include "convert/ByteCopy.h"
#include "convert/CiiReader.h"
#include "convert/codec/Utf16.h"

namespace edi {
namespace {

void Append(Bytes& out, ByteView bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

void PadFront(Bytes& out, std::int32_t width, std::uint8_t pad) {
    if (width > 0 && out.size() < static_cast<std::size_t>(width)) {
        out.insert(out.begin(), static_cast<std::size_t>(width) - out.size(), pad);
    }
}

// Keeps the rightmost n bytes; nothing for n of 0 or less.
void KeepRight(Bytes& out, std::int32_t n) {
    const std::size_t keep = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (out.size() > keep) out.erase(out.begin(), out.end() - static_cast<std::ptrdiff_t>(keep));
}

bool IsBlank(std::uint8_t b) { return b == ' ' || b == '\t' || b == '\n' || b == '\r'; }
bool IsDigit(std::uint8_t b) { return b >= '0' && b <= '9'; }

// A number as the parts a local field is made of: its sign, the digits before the point without
// leading zeros, and the digits after it (with zeros in front when the element was shorter than
// the digits its point stands before). The parts point into the element or a scratch buffer.
struct NumberParts {
    bool negative = false;
    ByteView whole;
    std::size_t fraction_zeros = 0;
    ByteView fraction;
};

ByteView WithoutLeadingZeros(ByteView digits) {
    std::size_t i = 0;
    while (i < digits.size() && digits[i] == '0') ++i;
    return digits.subspan(i);
}

bool AllDigits(ByteView text) { return std::all_of(text.begin(), text.end(), IsDigit); }

// The digits from text[i] on, blanks among them skipped, appended to out; i ends past them and
// the blanks after them.
void AppendDigits(ByteView text, std::size_t& i, Bytes& out) {
    for (; i < text.size() && (IsDigit(text[i]) || IsBlank(text[i])); ++i) {
        if (IsDigit(text[i])) out.push_back(text[i]);
    }
}

// A number as the platform reads one out of a text: blanks anywhere skipped, an optional sign,
// digits and, where a point may stand, the point and the fraction's digits; reading stops at
// the first other character. The digits are collected in `digits`, which the parts point into.
void ReadNumber(ByteView text, bool with_fraction, Bytes& digits, NumberParts& n) {
    digits.clear();
    n = NumberParts{};
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) n.negative = text[i++] == '-';
    AppendDigits(text, i, digits);
    const std::size_t whole = digits.size();
    if (with_fraction && i < text.size() && text[i] == '.') AppendDigits(text, ++i, digits);
    n.whole = WithoutLeadingZeros(ByteView(digits).first(whole));
    n.fraction = ByteView(digits).subspan(whole);
}

// Where an edit writes its value: Reserve(n) gives the n bytes to fill, once per value.
struct BytesOut {
    Bytes& out;
    std::uint8_t* Reserve(std::size_t n) {
        out.resize(n);
        return out.data();
    }
    void Finish() {}
};

// Into the record as PutIntoRecord places a text: straight into it when the value lies inside it.
struct RecordOut {
    Bytes& record;
    std::int64_t position;
    std::size_t limit;
    Bytes& scratch;
    bool direct = false;

    std::uint8_t* Reserve(std::size_t n) {
        direct = position >= 1 && static_cast<std::uint64_t>(position - 1) + n <= record.size();
        if (direct) return record.data() + (position - 1);
        scratch.resize(n);
        return scratch.data();
    }
    void Finish() {
        if (!direct) PutIntoRecord(record, position, scratch, limit);
    }
};

// The number laid into a local field: `width` characters before the point (zeros in front, a
// minus sign in the first place) and, when `decimals` is not 0, the point and the fraction cut or
// padded with zeros to `decimals` digits. A whole part the field cannot hold keeps its rightmost
// digits and false is returned: the value never runs into the next field.
template <class Out>
bool FormatForField(const NumberParts& n, std::int32_t width, std::int32_t decimals, Out& o) {
    const auto kept = static_cast<std::size_t>(std::max(0, decimals));
    const std::size_t zeros = std::min(kept, n.fraction_zeros);
    const std::size_t from_fraction = std::min(kept - zeros, n.fraction.size());
    const ByteView used = n.fraction.first(from_fraction);
    const bool negative = n.negative && (!n.whole.empty() || !WithoutLeadingZeros(used).empty());
    const std::size_t room = static_cast<std::size_t>(std::max(0, width - (negative ? 1 : 0)));
    const std::size_t digits = std::min(room, n.whole.size());
    std::uint8_t* p = o.Reserve((negative ? 1 : 0) + room + (kept > 0 ? 1 + kept : 0));
    if (negative) *p++ = '-';
    p = std::fill_n(p, room - digits, std::uint8_t{'0'});
    p = std::copy(n.whole.end() - static_cast<std::ptrdiff_t>(digits), n.whole.end(), p);
    if (kept > 0) {
        *p++ = '.';
        p = std::fill_n(p, zeros, std::uint8_t{'0'});
        p = std::copy(used.begin(), used.end(), p);
        std::fill_n(p, kept - zeros - from_fraction, std::uint8_t{'0'});
    }
    return n.whole.size() <= room;
}

// "20" in front of a 6-character date whose first two characters lie from "00" to "50",
// "19" from "51" to "99", compared as text.
void AddCentury(Bytes& text) {
    if (text.size() != 6) return;
    const std::string_view yy(reinterpret_cast<const char*>(text.data()), 2);
    if (yy >= "00" && yy <= "50") {
        text.insert(text.begin(), {'2', '0'});
    } else if (yy >= "51" && yy <= "99") {
        text.insert(text.begin(), {'1', '9'});
    }
}

// Scratch for the intermediate text of the conversions; grows once per thread.
Bytes& Scratch() {
    thread_local Bytes scratch;
    scratch.clear();
    return scratch;
}

// The edits' own buffers, apart from the conversions' scratch.
struct EditBuffers {
    Bytes digits;  // the digits a number's parts point into
    Bytes text;    // a number's padded text, a date, converted double-byte data
};
EditBuffers& Buffers() {
    thread_local EditBuffers buffers;
    return buffers;
}

// The number in the local item's field: 長さ digits, or 長さ - 小数部長さ digits, the point and
// 小数部長さ digits when the item has decimals.
template <class Out>
bool FormatLocalNumber(const NumberParts& n, const LocalEdit& edit, Out& o) {
    if (edit.local_decimals == 0) return FormatForField(n, edit.local_length, 0, o);
    return FormatForField(n, edit.local_length - edit.local_decimals, edit.local_decimals, o);
}

// "9N" and "99" for an element that is not digits only: the element zero-padded to the message
// length and read as the platform reads a number; a message item with decimals has its point
// before the last 小数部長さ characters. The parts then fill the local field, with its point
// where the local item has decimals.
void DecimalNumberParts(ByteView element, const LocalEdit& edit, NumberParts& n) {
    EditBuffers& buffers = Buffers();
    Bytes& digits = buffers.digits;
    Bytes& text = buffers.text;
    text.assign(element.begin(), element.end());
    PadFront(text, edit.message_length, '0');
    if (edit.message_decimals != 0) {
        const std::size_t tail =
            std::min<std::size_t>(text.size(), static_cast<std::size_t>(std::max(0, edit.message_decimals)));
        ReadNumber(ByteView(text).first(text.size() - tail), false, digits, n);
        const std::size_t whole = digits.size();
        std::size_t i = text.size() - tail;
        AppendDigits(text, i, digits);
        n.whole = WithoutLeadingZeros(ByteView(digits).first(whole));
        n.fraction = ByteView(digits).subspan(whole);
    } else {
        ReadNumber(text, true, digits, n);
    }
}

// Whether any of eight bytes is a lead byte (0x81-0x9F, 0xE0-0xFC): with the top bit flipped
// these are the bytes from 0x01 to 0x1F and from 0x60 to 0x7C, found by the carries of a
// byte-wise subtraction without a carry from one byte into the next.
bool HasLeadByte(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    const std::uint64_t y = word ^ (kOnes * 0x80);
    const std::uint64_t low = y & kLow7;
    // Bytes m < b < n of the low seven bits, b below 0x80: (127 + n - b) has its top bit set
    // where b < n, (b + 127 - m) where b > m.
    auto between = [&](std::uint64_t m, std::uint64_t n) {
        return ((kOnes * (127 + n) - low) & ~y & (low + kOnes * (127 - m))) & (kOnes * 0x80);
    };
    return (between(0x00, 0x20) | between(0x5F, 0x7D)) != 0;
}

// Bytes of an element as characters: a lead byte with a byte after it counts once.
std::size_t CharCountOf(ByteView sjis) {
    // Without a lead byte (ASCII and half-width katakana) every byte is a character.
    bool lead = false;
    if (sjis.size() >= 8) {
        std::uint64_t word;
        for (std::size_t i = 0; i + 8 <= sjis.size() && !lead; i += 8) {
            std::memcpy(&word, sjis.data() + i, 8);
            lead = HasLeadByte(word);
        }
        std::memcpy(&word, sjis.data() + sjis.size() - 8, 8);
        lead = lead || HasLeadByte(word);
    } else {
        std::uint64_t word = 0;
        CopyBytes(reinterpret_cast<std::uint8_t*>(&word), sjis.data(), sjis.size());
        lead = HasLeadByte(word);
    }
    if (!lead) return sjis.size();
    std::size_t count = 0;
    for (std::size_t i = 0; i < sjis.size(); i += CharLengthAt(sjis, i)) ++count;
    return count;
}

// FormatForField for a number of digits only, the usual element: no sign, and its digits taken
// as they stand (zeros in front of the whole part change nothing in a zero-filled field).
template <class Out>
bool FormatDigits(ByteView whole, std::size_t fraction_zeros, ByteView fraction, std::int32_t width,
                  std::int32_t decimals, Out& o) {
    const auto kept = static_cast<std::size_t>(std::max(0, decimals));
    const std::size_t zeros = std::min(kept, fraction_zeros);
    const std::size_t from_fraction = std::min(kept - zeros, fraction.size());
    const std::size_t room = static_cast<std::size_t>(std::max(0, width));
    const std::size_t digits = std::min(room, whole.size());
    std::uint8_t* p = o.Reserve(room + (kept > 0 ? 1 + kept : 0));
    FillBytes(p, '0', room - digits);
    p += room - digits;
    CopyBytes(p, whole.data() + whole.size() - digits, digits);
    p += digits;
    if (kept > 0) {
        *p++ = '.';
        FillBytes(p, '0', zeros);
        p += zeros;
        CopyBytes(p, fraction.data(), from_fraction);
        FillBytes(p + from_fraction, '0', kept - zeros - from_fraction);
    }
    // The whole part fits when the digits the field leaves out are all zeros.
    return whole.size() <= room || WithoutLeadingZeros(whole.first(whole.size() - room)).empty();
}

// A number of digits only in the local item's field; for "9N" and "99" the element's last
// 小数部長さ digits of the message item are its fraction.
template <class Out>
bool PlaceDigitNumber(ByteView element, const LocalEdit& edit, Out& o) {
    ByteView whole = element;
    ByteView fraction;
    std::size_t fraction_zeros = 0;
    if (edit.kind == LocalEdit::Kind::kDecimalNumber && edit.message_decimals != 0) {
        const std::size_t padded = std::max(element.size(), static_cast<std::size_t>(std::max(0, edit.message_length)));
        const std::size_t tail = std::min(padded, static_cast<std::size_t>(edit.message_decimals));
        if (element.size() >= tail) {
            whole = element.first(element.size() - tail);
            fraction = element.last(tail);
        } else {
            whole = {};
            fraction_zeros = tail - element.size();
            fraction = element;
        }
    }
    if (edit.local_decimals == 0) return FormatDigits(whole, fraction_zeros, fraction, edit.local_length, 0, o);
    return FormatDigits(whole, fraction_zeros, fraction, edit.local_length - edit.local_decimals, edit.local_decimals,
                        o);
}

template <class Out>
void CopyThenPad(ByteView value, std::size_t pad_count, ByteView pad, Out& o) {
    std::uint8_t* p = o.Reserve(value.size() + pad_count * pad.size());
    CopyBytes(p, value.data(), value.size());
    p += value.size();
    if (pad.size() == 1) {
        FillBytes(p, pad[0], pad_count);
        return;
    }
    for (std::size_t k = 0; k < pad_count; ++k, p += pad.size()) std::memcpy(p, pad.data(), pad.size());
}

constexpr std::uint8_t kSpace[] = {' '};
constexpr std::uint8_t kFullWidthSpace[] = {0x81, 0x40};

[[gnu::noinline]] void LogNumberTooLong(const LocalEdit& edit, ByteView element, ConversionLog& log) {
    WriteErrorLog(log, kNumberTooLong, "項目№=" + std::to_string(edit.item_number) + " " + BytesToText(element), 1);
}

// The edits that take more than a copy: kept apart from the usual ones.
template <class Out>
[[gnu::noinline]] bool EditByWay(const LocalEdit& edit, ByteView element, ConversionLog& log, Out& o) {
    switch (edit.kind) {
        case LocalEdit::Kind::kWide: {
            Bytes& converted = Buffers().text;
            DoubleBytesToText(element, edit.direction, converted);
            const std::int32_t missing = edit.local_length - static_cast<std::int32_t>(converted.size());
            CopyThenPad(converted, static_cast<std::size_t>(std::max(0, missing / 2)), kFullWidthSpace, o);
            return true;
        }
        case LocalEdit::Kind::kDate: {
            Bytes& text = Buffers().text;
            text.assign(element.begin(), element.end());
            PadFront(text, edit.message_length, '0');
            AddCentury(text);
            KeepRight(text, edit.local_length);
            CopyThenPad(text, 0, kSpace, o);
            return true;
        }
        case LocalEdit::Kind::kDecimalNumber:
        case LocalEdit::Kind::kNumber: {
            NumberParts n;
            if (edit.kind == LocalEdit::Kind::kDecimalNumber) {
                DecimalNumberParts(element, edit, n);
            } else {
                ReadNumber(element, true, Buffers().digits, n);
            }
            if (!FormatLocalNumber(n, edit, o)) LogNumberTooLong(edit, element, log);
            return true;
        }
        case LocalEdit::Kind::kText:
        case LocalEdit::Kind::kUnknown:
            break;
    }
    WriteErrorLog(log, kUnknownAttributePair, "", 1);
    return false;
}

template <class Out>
bool Edit(const LocalEdit& edit, ByteView element, ConversionLog& log, Out& o) {
    switch (edit.kind) {
        case LocalEdit::Kind::kText: {
            const std::size_t chars = CharCountOf(element);
            const std::size_t pad = edit.local_length > 0 && chars < static_cast<std::size_t>(edit.local_length)
                                        ? static_cast<std::size_t>(edit.local_length) - chars
                                        : 0;
            CopyThenPad(element, pad, kSpace, o);
            return true;
        }
        case LocalEdit::Kind::kWide:
            if (!edit.plain_double_bytes) break;
            CopyThenPad(element,
                        static_cast<std::size_t>(
                            std::max(0, (edit.local_length - static_cast<std::int32_t>(element.size())) / 2)),
                        kFullWidthSpace, o);
            return true;
        case LocalEdit::Kind::kDecimalNumber:
        case LocalEdit::Kind::kNumber:
            if (!AllDigits(element)) break;
            if (!PlaceDigitNumber(element, edit, o)) LogNumberTooLong(edit, element, log);
            return true;
        case LocalEdit::Kind::kDate:
        case LocalEdit::Kind::kUnknown:
            break;
    }
    return EditByWay(edit, element, log, o);
}

}  // namespace

std::string BytesToText(ByteView bytes) { return ToUnicodeText(bytes); }

std::size_t CharCount(ByteView sjis) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < sjis.size(); i += CharLengthAt(sjis, i)) ++count;
    return count;
}

void JisToShiftJis(ByteView jis, Bytes& out) {
    std::size_t i = 0;
    for (; i + 1 < jis.size(); i += 2) {
        int j1 = jis[i];
        int j2 = jis[i + 1];
        if (j1 % 2 == 0) {
            j1 -= 1;
            j2 += 125;
        } else {
            j2 += 31;
        }
        if (j2 > 126) j2 += 1;
        int s1 = (j1 - 33) / 2 + 129;
        if (s1 > 159) s1 += 64;
        out.push_back(static_cast<std::uint8_t>(s1 & 0xFF));
        out.push_back(static_cast<std::uint8_t>(j2 & 0xFF));
    }
    if (i < jis.size()) out.push_back(jis[i]);
}

void ShiftJisToJis(ByteView sjis, Bytes& out) {
    for (std::size_t i = 0; i < sjis.size();) {
        if (CharLengthAt(sjis, i) == 1) {
            out.push_back(sjis[i++]);
            continue;
        }
        int s1 = sjis[i];
        int s2 = sjis[i + 1];
        i += 2;
        s1 = (s1 > 159 ? s1 - 177 : s1 - 113) * 2 + 1;
        if (s2 > 127) s2 -= 1;
        if (s2 < 158) {
            s2 -= 31;
        } else {
            s2 -= 125;
            s1 += 1;
        }
        out.push_back(static_cast<std::uint8_t>(s1 & 0xFF));
        out.push_back(static_cast<std::uint8_t>(s2 & 0xFF));
    }
}

void DoubleBytesToText(ByteView bytes, std::string_view direction, Bytes& out) {
    out.clear();
    const char source = direction.size() > 0 ? direction[0] : '\0';
    const char target = direction.size() > 1 ? direction[1] : '\0';
    if (source == 'S' && (target == 'M' || target == 'U')) {
        if (target == 'M') {
            JisToShiftJis(bytes, out);
            return;
        }
        Bytes& sjis = Scratch();
        JisToShiftJis(bytes, sjis);
        AppendCp932AsUtf16Be(sjis, out);
        return;
    }
    if (source == 'U') {
        // UTF-16 always passes through the local code first, so "UU" keeps only what it can hold.
        if (target == 'S' || target == 'U') {
            Bytes& sjis = Scratch();
            AppendUtf16BeAsCp932(bytes, sjis);
            if (target == 'S') {
                ShiftJisToJis(sjis, out);
            } else {
                AppendCp932AsUtf16Be(sjis, out);
            }
            return;
        }
        AppendUtf16BeAsCp932(bytes, out);
        return;
    }
    if (source != 'S' && target == 'S') {
        if (source == 'M') {
            ShiftJisToJis(bytes, out);
        } else {
            Append(out, bytes);  // only "MS" and "US" are converted to JIS
        }
        return;
    }
    if (source != 'S' && target == 'U') {
        AppendCp932AsUtf16Be(bytes, out);
        return;
    }
    Append(out, bytes);
}

LocalEdit PlanLocalEdit(const RecordFormatItem& local_item, const RecordFormatItem& message_item,
                        std::string_view double_byte_direction) {
    LocalEdit edit;
    // The pair is the two attributes as stored, joined: "X " and "X" make no known pair.
    const std::string& m = message_item.属性;
    const std::string& l = local_item.属性;
    char pair[2] = {0, 0};
    if (m.size() + l.size() == 2) {
        const std::string& first = m.empty() ? l : m;
        pair[0] = first[0];
        pair[1] = m.size() == 1 ? l[0] : first[1];
    }
    const std::string_view p(pair, 2);
    if (p == "XX") {
        edit.kind = LocalEdit::Kind::kText;
    } else if (p == "KK") {
        edit.kind = LocalEdit::Kind::kWide;
    } else if (p == "Y9" || p == "YY" || p == "9Y") {
        edit.kind = LocalEdit::Kind::kDate;
    } else if (p == "9N" || p == "99") {
        edit.kind = LocalEdit::Kind::kDecimalNumber;
    } else if (p == "N9" || p == "NN") {
        edit.kind = LocalEdit::Kind::kNumber;
    }
    edit.local_length = local_item.長さ;
    edit.local_decimals = local_item.小数部長さ;
    edit.message_length = message_item.長さ;
    edit.message_decimals = message_item.小数部長さ;
    edit.item_number = message_item.項目No;
    edit.direction.assign(double_byte_direction);
    // Only conversions from or to JIS pairs and UTF-16 change double-byte data.
    const char source = double_byte_direction.size() > 0 ? double_byte_direction[0] : '\0';
    const char target = double_byte_direction.size() > 1 ? double_byte_direction[1] : '\0';
    edit.plain_double_bytes = source != 'S' && source != 'U' && target != 'S' && target != 'U';
    return edit;
}

bool ApplyLocalEdit(const LocalEdit& edit, ByteView element, ConversionLog& log, Bytes& out) {
    out.clear();
    BytesOut o{out};
    return Edit(edit, element, log, o);
}

bool PlaceLocalEdit(const LocalEdit& edit, ByteView element, std::int64_t position, LocalRecordTarget& target) {
    RecordOut o{target.record, position, target.limit, target.scratch};
    if (!Edit(edit, element, target.log, o)) return false;
    o.Finish();
    return true;
}

bool EditForLocal(ByteView element, const RecordFormatItem& local_item, const RecordFormatItem& message_item,
                  std::string_view double_byte_direction, ConversionLog& log, Bytes& out) {
    return ApplyLocalEdit(PlanLocalEdit(local_item, message_item, double_byte_direction), element, log, out);
}

}  // namespace edi
