// Masters of kind 0110 with nested groups, two-byte tags and long elements, and a generator of
// local lines for them: shared by the converter snapshot and the round-trip tests.
#pragma once

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "convert/FormatMasterSource.h"

namespace edi::bench {

// One message-side item and its local partner (serials n and 100 + n).
struct Field {
    int serial;
    int level;
    int tag;
    int position;
    std::string attribute;  // the message side's
    int length;
    int decimals = 0;
    std::string multi = "0";
    int repeat = 0;
    int message_length = -1;
    int message_decimals = -1;
    std::string local_attribute = "";  // when the local side's differs
};

// One-byte tags; a group of 3 whose first member is a group of 2, then at once a group of 2.
// (Full-width spaces are values: a group holding a "K" item is never empty.)
inline const std::vector<Field> kNested = {
    {1, 0, 1, 1, "X", 3},
    {2, 0, 20, 4, "M", 0, 0, "1", 3},
    {3, 1, 21, 4, "M", 0, 0, "2", 2},
    {4, 2, 2, 4, "9", 4},
    {5, 2, 3, 8, "X", 2},
    {6, 1, 4, 16, "X", 4},
    {7, 1, 5, 20, "N", 3},
    {8, 0, 22, 61, "M", 0, 0, "3", 2},
    {9, 1, 7, 61, "X", 2},
    {10, 0, 6, 65, "Y", 8},
    {11, 0, 8, 73, "9", 7, 2},
    {12, 0, 9, 81, "Y", 6, 0, "0", 0, 8},
    {13, 0, 10, 87, "K", 4},
};
// Two-byte tags from the first item; numbered groups "A" and "12"; a three-byte tag.
inline const std::vector<Field> kTwoByte = {
    {1, 0, 300, 1, "X", 3},
    {2, 0, 20, 4, "M", 0, 0, "A", 3},
    {3, 1, 21, 4, "M", 0, 0, "12", 2},
    {4, 2, 302, 4, "9", 4},
    {5, 2, 5, 8, "X", 2},
    {6, 1, 70000, 16, "K", 4},
    {7, 1, 305, 20, "N", 3},
    {8, 0, 306, 61, "Y", 8},
};
// A long element (0xF2 length, the 17-byte prefix, several storage blocks) and a group after it.
inline const std::vector<Field> kLong = {
    {1, 0, 1, 1, "X", 40000}, {2, 0, 20, 40001, "M", 0, 0, "1", 2}, {3, 1, 2, 40001, "X", 5},
    {4, 0, 3, 40011, "K", 6}, {5, 0, 4, 40017, "X", 300},
};

inline DbRow ItemRow(bool message, const Field& f, const std::string& kind = "0110") {
    const int length = message && f.message_length >= 0 ? f.message_length : f.length;
    const int decimals = message && f.message_decimals >= 0 ? f.message_decimals : f.decimals;
    const std::string attribute = !message && !f.local_attribute.empty() ? f.local_attribute : f.attribute;
    return DbRow{{"フォーマット種別", message ? "E" : "L"},
                 {"情報区分コード", kind},
                 {"BPID", "BP000001"},
                 {"項目通番", std::to_string(message ? f.serial : 100 + f.serial)},
                 {"対応項目通番", std::to_string(message ? 100 + f.serial : f.serial)},
                 {"レベル番号", std::to_string(f.level)},
                 {"項目№", std::to_string(message ? f.tag : 0)},
                 {"項目位置", std::to_string(f.position)},
                 {"項目名称", "item" + std::to_string(f.serial)},
                 {"属性", attribute},
                 {"長さ", std::to_string(length)},
                 {"小数部長さ", std::to_string(decimals)},
                 {"マルチ明細番号", f.multi},
                 {"繰返し数", std::to_string(f.repeat)}};
}

// The items, the format row and the group settings of partners PTN1 and PTN2 (own company OWN1)
// for the kind and BPID BP000001.
inline void AddMasters(MemoryMasters& m, const std::vector<Field>& fields, const std::string& mode,
                       const std::string& code16, const std::string& xml_code, const std::string& kind = "0110") {
    for (const Field& f : fields) {
        m.ItemRows.push_back(ItemRow(true, f, kind));
        m.ItemRows.push_back(ItemRow(false, f, kind));
    }
    m.FormatRows.push_back({{"情報区分コード", kind},
                            {"BPID", "BP000001"},
                            {"様式識別", "F1"},
                            {"シンタックスIDバージョン", "3"},
                            {"格納モード", mode},
                            {"1バイト文字集合", "A"},
                            {"2バイト文字集合", "M"},
                            {"ローカル形式", "L"},
                            {"XML文字コード", xml_code}});
    for (const char* partner : {"PTN1", "PTN2"}) {
        m.GroupRows.push_back({{"相手先コード", partner},
                               {"自社コード", "OWN1"},
                               {"情報区分", kind},
                               {"BPID", "BP000001"},
                               {"運用モード", "P"},
                               {"発信VANコード", "VAN1"},
                               {"発信センターコード", "CTR1"},
                               {"発信者コード", "OWN1"},
                               {"受信VANコード", "VAN2"},
                               {"受信センターコード", "CTR2"},
                               {"受信者コード", partner},
                               {"交換参照番号", "REF0000001"},
                               {"シンタックスIDバージョン", "3"},
                               {"格納モード", mode},
                               {"8ビット文字コード", "A"},
                               {"16ビット文字コード", code16},
                               {"短縮表示", "0"},
                               {"発信VANコード管理機関コード", "001"},
                               {"発信センターコード管理機関コード", "002"},
                               {"発信者コード管理機関コード", "003"},
                               {"受信VANコード管理機関コード", "004"},
                               {"受信センターコード管理機関コード", "005"},
                               {"受信者コード管理機関コード", "006"}});
    }
}

// The bytes of one occurrence of the items of the given level from item i on.
inline std::size_t Width(const std::vector<Field>& fs, std::size_t i, int level) {
    std::size_t width = 0;
    while (i < fs.size() && fs[i].level >= level) {
        if (fs[i].level == level) {
            if (fs[i].attribute == "M") {
                width += static_cast<std::size_t>(std::max(fs[i].repeat, 1)) * Width(fs, i + 1, level + 1);
            } else {
                width += static_cast<std::size_t>(fs[i].length + (fs[i].decimals != 0 ? 1 : 0));
            }
        }
        ++i;
    }
    return width;
}

// Random local records of a master: every attribute, empty values, occurrences and whole groups.
// With damage, some records and values are spoilt (cut or lengthened records, blank lines, signs,
// blanks, letters, lead bytes without trail, half-width katakana, points in odd places, characters
// only code page 932 holds, double-byte characters in one-byte items); without, every line
// survives a round trip unchanged.
class LineMaker {
public:
    LineMaker(unsigned seed, bool damage) : rng_(seed), damage_(damage) {}

    // The lines of kind 0110 from OWN1, seven to PTN1, seven to PTN2 and so on.
    std::string Lines(const std::vector<Field>& fs, int count) {
        std::string local;
        for (int n = 0; n < count; ++n) {
            if (damage_ && Chance(2)) local += Chance(50) ? "   \r\n" : "\r\n";
            std::string key = "     0110      OWN1        ";
            key += (n / 7) % 2 == 0 ? "PTN1        " : "PTN2        ";
            local += key + Record(fs) + (damage_ && Chance(5) ? "\n" : "\r\n");
        }
        return local;
    }

private:
    bool Chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(rng_) < percent; }
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    std::string Record(const std::vector<Field>& fs) {
        std::string record;
        std::size_t i = 0;
        Fill(record, fs, i, 0, 0, false);
        if (damage_ && Chance(3)) record.resize(record.size() / 2);
        if (damage_ && Chance(3)) record += "TRAILING";
        return record;
    }
    char Digit() { return static_cast<char>('0' + Pick(0, 9)); }
    char Junk() {
        static const std::string kJunk = " -+.0123456789ABz\t\x81\x82\xB1\xDF\x7F,";
        return kJunk[static_cast<std::size_t>(Pick(0, static_cast<int>(kJunk.size()) - 1))];
    }

    void Fill(std::string& record, const std::vector<Field>& fs, std::size_t& i, int level, std::size_t offset,
              bool empty) {
        while (i < fs.size() && fs[i].level == level) {
            const Field& f = fs[i++];
            if (f.attribute == "M") {
                const std::size_t stride = Width(fs, i, level + 1);
                std::size_t after = i;
                const bool whole_group_empty = Chance(20);
                for (int k = 0; k < std::max(f.repeat, 1); ++k) {
                    after = i;
                    Fill(record, fs, after, level + 1, offset + static_cast<std::size_t>(k) * stride,
                         empty || whole_group_empty || Chance(35));
                }
                i = after;
                continue;
            }
            const std::string value = Value(f, empty || Chance(25));
            const std::size_t at = offset + static_cast<std::size_t>(f.position - 1);
            if (record.size() < at + value.size()) record.resize(at + value.size(), ' ');
            std::copy(value.begin(), value.end(), record.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }

    std::string Value(const Field& f, bool empty) {
        const auto n = static_cast<std::size_t>(f.length + (f.decimals != 0 ? 1 : 0));
        const std::string& a = f.local_attribute.empty() ? f.attribute : f.local_attribute;
        std::string text;
        if (damage_ && !empty && Chance(8)) {
            for (std::size_t k = 0; k < n; ++k) text += Junk();
            return text;
        }
        if (a == "X" || a == "B" || a == "X ") {
            static const std::string kChars = "ABCxyz019-\xB1\xB2\xDF";
            const std::size_t used = empty ? 0 : static_cast<std::size_t>(Pick(1, static_cast<int>(n)));
            for (std::size_t k = 0; k < used; ++k) {
                if (damage_ && k + 1 < used && Chance(5)) {
                    text += "\x93\x8C";
                    ++k;
                    continue;
                }
                text += (k > 0 && Chance(10)) ? ' ' : kChars[static_cast<std::size_t>(Pick(0, 12))];
            }
            if (damage_ && !empty && Chance(12)) {
                // Markup characters, controls and characters that only code page 932 holds.
                static const char* kOdd[] = {
                    "&",        "<",        ">",        "\"",       "'",        "\r",   "\t", "\x01", "\x7F",
                    "\x87\x40", "\x81\x60", "\x85\x40", "\xFD",     "\x80",     "\xA0", "\\", "~",    "\xFA\x40",
                    "\xF0\x40", "\x81\x7C", "\x81\x91", "\xED\x40", "\x82\xA0", "\x88", "]]>"};
                const std::string odd = kOdd[Pick(0, 24)];
                text.replace(static_cast<std::size_t>(Pick(0, static_cast<int>(text.size()) - 1)), odd.size(), odd);
            }
            text.resize(n, ' ');
        } else if (a == "9" || a == "N") {
            for (int k = 0; k < f.length - f.decimals; ++k) text += empty ? '0' : Digit();
            if (f.decimals != 0) {
                text += '.';
                for (int k = 0; k < f.decimals; ++k) text += empty ? '0' : Digit();
            }
            if (damage_ && !empty && Chance(10)) text[0] = '-';
            if (damage_ && !empty && Chance(5)) text[text.size() / 2] = ' ';
        } else if (a == "Y") {
            if (empty) return std::string(n, '0');
            // Without damage, years whose six-digit form keeps its century.
            const int year = damage_ ? Pick(1930, 2069) : Pick(1951, 2049);
            text = std::to_string(year) + "0" + Digit() + "1" + Digit();
            if (damage_ && Chance(5)) text = "20000000";
            text = text.substr(text.size() - std::min<std::size_t>(n, text.size()));
        } else if (a == "K") {
            // 東京Ａ漢 and the full-width space, then ① ～ 熙 with damage.
            static const char* kWide[] = {"\x93\x8C", "\x8B\x9E", "\x82\x60", "\x8A\xBF",
                                          "\x81\x40", "\x87\x40", "\x81\x60", "\xEA\xA4"};
            const std::size_t used = empty ? 0 : static_cast<std::size_t>(Pick(1, static_cast<int>(n / 2)));
            static const char* kRare[] = {"\xFA\x40", "\xF0\x40", "\x81\x7C", "\x81\x91", "\xED\x40", "\x85\x40"};
            for (std::size_t k = 0; k < n / 2; ++k) {
                if (k >= used) {
                    text += "\x81\x40";
                } else if (!damage_) {
                    text += kWide[Pick(0, 4)];
                } else {
                    text += Chance(5) ? kRare[Pick(0, 5)] : kWide[Pick(0, 7)];
                }
            }
            if (damage_ && !empty && Chance(15)) text.replace(0, 2, "A\xB1");  // half-width: goes full width
            text.resize(n, ' ');
        }
        return text;
    }

    std::mt19937 rng_;
    bool damage_;
};

}  // namespace edi::bench
