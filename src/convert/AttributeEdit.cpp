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

// A number as the platform reads one out of a text: blanks anywhere skipped, an optional sign,
// digits and, where a point may stand, the point and the fraction's digits; reading stops at
// the first other character. Leading zeros are dropped.
struct NumberText {
    bool negative = false;
    Bytes whole;
    Bytes fraction;
};

void ReadNumber(ByteView text, bool with_fraction, NumberText& n) {
    n.negative = false;
    n.whole.clear();
    n.fraction.clear();
    std::size_t i = 0;
    auto skip_blanks = [&] {
        while (i < text.size() && IsBlank(text[i])) ++i;
    };
    skip_blanks();
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) n.negative = text[i++] == '-';
    for (skip_blanks(); i < text.size() && IsDigit(text[i]); ++i, skip_blanks()) {
        if (n.whole.empty() && text[i] == '0') continue;
        n.whole.push_back(text[i]);
    }
    if (!with_fraction || i >= text.size() || text[i] != '.') return;
    for (++i, skip_blanks(); i < text.size() && IsDigit(text[i]); ++i, skip_blanks()) n.fraction.push_back(text[i]);
}

// The fraction's digits of a text that holds nothing else (the tail of a message number whose
// point is implied), read as ReadNumber reads them after a point.
void ReadFraction(ByteView text, NumberText& n) {
    for (const std::uint8_t b : text) {
        if (IsBlank(b)) continue;
        if (!IsDigit(b)) break;
        n.fraction.push_back(b);
    }
}

// The number laid into a local field: `width` characters before the point (zeros in front, a
// minus sign in the first place) and, when `decimals` is not 0, the point and the fraction cut or
// padded with zeros to `decimals` digits. A whole part the field cannot hold keeps its rightmost
// digits and false is returned: the value never runs into the next field.
bool FormatForField(const NumberText& n, std::int32_t width, std::int32_t decimals, Bytes& out) {
    out.clear();
    const auto kept_fraction = static_cast<std::size_t>(std::max(0, decimals));
    const std::size_t used_fraction = std::min(kept_fraction, n.fraction.size());
    const bool zero = n.whole.empty() &&
                      std::all_of(n.fraction.begin(), n.fraction.begin() + static_cast<std::ptrdiff_t>(used_fraction),
                                  [](std::uint8_t b) { return b == '0'; });
    const bool negative = n.negative && !zero;
    const std::size_t room = static_cast<std::size_t>(std::max(0, width - (negative ? 1 : 0)));
    const bool fits = n.whole.size() <= room;
    if (negative) out.push_back('-');
    const std::size_t digits = std::min(room, n.whole.size());
    out.insert(out.end(), room - digits, '0');
    out.insert(out.end(), n.whole.end() - static_cast<std::ptrdiff_t>(digits), n.whole.end());
    if (decimals > 0) {
        out.push_back('.');
        out.insert(out.end(), n.fraction.begin(), n.fraction.begin() + static_cast<std::ptrdiff_t>(used_fraction));
        out.insert(out.end(), kept_fraction - used_fraction, '0');
    }
    return fits;
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
bool FormatLocalNumber(const NumberText& n, const RecordFormatItem& local_item, Bytes& out) {
    if (!local_item.HasDecimals()) return FormatForField(n, local_item.長さ, 0, out);
    return FormatForField(n, local_item.長さ - local_item.小数部長さ, local_item.小数部長さ, out);
}

NumberText& ScratchNumber() {
    thread_local NumberText number;
    return number;
}

// "9N" and "99": the element zero-padded to the message length; a message item with decimals has
// its point before the last 小数部長さ characters. The value then fills the local field, with
// its point where the local item has decimals: 47 for a local "00000.00" is "00047.00".
bool EditDecimalNumber(ByteView element, const RecordFormatItem& local_item, const RecordFormatItem& message_item,
                       Bytes& out) {
    Bytes& text = Scratch();
    Append(text, element);
    PadFront(text, message_item.長さ, '0');
    NumberText& n = ScratchNumber();
    if (message_item.HasDecimals()) {
        const std::size_t tail =
            std::min<std::size_t>(text.size(), static_cast<std::size_t>(std::max(0, message_item.小数部長さ)));
        const ByteView all(text);
        ReadNumber(all.first(text.size() - tail), false, n);
        ReadFraction(all.last(tail), n);
    } else {
        ReadNumber(text, true, n);
    }
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
            NumberText& n = ScratchNumber();
            ReadNumber(element, true, n);
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
