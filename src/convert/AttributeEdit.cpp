#include "convert/AttributeEdit.h"

#include <algorithm>

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

// The number laid into a local field: `width` characters before the point (zeros in front, a
// minus sign in the first place) and, when `decimals` is not 0, the point and the fraction cut or
// padded with zeros to `decimals` digits. A whole part the field cannot hold keeps its rightmost
// digits and false is returned: the value never runs into the next field.
bool FormatForField(const NumberParts& n, std::int32_t width, std::int32_t decimals, Bytes& out) {
    const auto kept = static_cast<std::size_t>(std::max(0, decimals));
    const std::size_t zeros = std::min(kept, n.fraction_zeros);
    const std::size_t from_fraction = std::min(kept - zeros, n.fraction.size());
    const ByteView used = n.fraction.first(from_fraction);
    const bool negative = n.negative && (!n.whole.empty() || !WithoutLeadingZeros(used).empty());
    const std::size_t room = static_cast<std::size_t>(std::max(0, width - (negative ? 1 : 0)));
    const std::size_t digits = std::min(room, n.whole.size());
    out.resize((negative ? 1 : 0) + room + (kept > 0 ? 1 + kept : 0));
    std::uint8_t* p = out.data();
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

// Scratch for the intermediate text of the numeric edits; grows once per thread.
Bytes& Scratch() {
    thread_local Bytes scratch;
    scratch.clear();
    return scratch;
}

// The number in the local item's field: 長さ digits, or 長さ - 小数部長さ digits, the point and
// 小数部長さ digits when the item has decimals.
bool FormatLocalNumber(const NumberParts& n, const RecordFormatItem& local_item, Bytes& out) {
    if (!local_item.HasDecimals()) return FormatForField(n, local_item.長さ, 0, out);
    return FormatForField(n, local_item.長さ - local_item.小数部長さ, local_item.小数部長さ, out);
}

// "9N" and "99": the element zero-padded to the message length; a message item with decimals has
// its point before the last 小数部長さ characters. The value then fills the local field, with
// its point where the local item has decimals: 47 for a local "00000.00" is "00047.00".
bool EditDecimalNumber(ByteView element, const RecordFormatItem& local_item, const RecordFormatItem& message_item,
                       Bytes& out) {
    NumberParts n;
    Bytes& digits = Scratch();
    if (!AllDigits(element)) {
        // Anything but digits is read from the padded text, as the platform reads it.
        Bytes& text = out;
        text.assign(element.begin(), element.end());
        PadFront(text, message_item.長さ, '0');
        if (message_item.HasDecimals()) {
            const std::size_t tail =
                std::min<std::size_t>(text.size(), static_cast<std::size_t>(std::max(0, message_item.小数部長さ)));
            ReadNumber(ByteView(text).first(text.size() - tail), false, digits, n);
            const std::size_t whole = digits.size();
            std::size_t i = text.size() - tail;
            AppendDigits(text, i, digits);
            n.whole = WithoutLeadingZeros(ByteView(digits).first(whole));
            n.fraction = ByteView(digits).subspan(whole);
        } else {
            ReadNumber(text, true, digits, n);
        }
        return FormatLocalNumber(n, local_item, out);
    }
    // Digits only, the usual case: the zeros in front change nothing but where the point stands.
    if (message_item.HasDecimals()) {
        const std::size_t padded = std::max(element.size(), static_cast<std::size_t>(std::max(0, message_item.長さ)));
        const std::size_t tail = std::min(padded, static_cast<std::size_t>(message_item.小数部長さ));
        if (element.size() >= tail) {
            n.whole = element.first(element.size() - tail);
            n.fraction = element.last(tail);
        } else {
            n.fraction_zeros = tail - element.size();
            n.fraction = element;
        }
    } else {
        n.whole = element;
    }
    n.whole = WithoutLeadingZeros(n.whole);
    return FormatLocalNumber(n, local_item, out);
}

void EditDate(ByteView element, const RecordFormatItem& local_item, const RecordFormatItem& message_item, Bytes& out) {
    Append(out, element);
    PadFront(out, message_item.長さ, '0');
    AddCentury(out);
    KeepRight(out, local_item.長さ);
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

bool EditForLocal(ByteView element, const RecordFormatItem& local_item, const RecordFormatItem& message_item,
                  std::string_view double_byte_direction, ConversionLog& log, Bytes& out) {
    out.clear();
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
        Append(out, element);
        const std::size_t chars = CharCount(element);
        if (local_item.長さ > 0 && chars < static_cast<std::size_t>(local_item.長さ)) {
            out.insert(out.end(), static_cast<std::size_t>(local_item.長さ) - chars, ' ');
        }
        return true;
    }
    if (p == "KK") {
        DoubleBytesToText(element, double_byte_direction, out);
        const std::int32_t missing = local_item.長さ - static_cast<std::int32_t>(out.size());
        for (std::int32_t k = 0; k < missing / 2; ++k) {
            out.push_back(0x81);  // full-width space
            out.push_back(0x40);
        }
        return true;
    }
    if (p == "Y9" || p == "YY" || p == "9Y") {
        EditDate(element, local_item, message_item, out);
        return true;
    }
    const bool decimal_number = p == "9N" || p == "99";
    if (decimal_number || p == "N9" || p == "NN") {
        bool fits = false;
        if (decimal_number) {
            fits = EditDecimalNumber(element, local_item, message_item, out);
        } else {
            NumberParts n;
            ReadNumber(element, true, Scratch(), n);
            fits = FormatLocalNumber(n, local_item, out);
        }
        if (!fits) {
            WriteErrorLog(log, kNumberTooLong,
                          "項目№=" + std::to_string(message_item.項目No) + " " + BytesToText(element), 1);
        }
        return true;
    }
    WriteErrorLog(log, kUnknownAttributePair, "", 1);
    return false;
}

}  // namespace edi
