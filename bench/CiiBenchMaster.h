// A realistic message kind for the benchmark and the fuzz target: an order of about forty items
// with a ten-times detail group whose first member is a three-times sub-group, and a generator of
// local lines for it.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "convert/FormatMasterSource.h"

namespace edi::bench {

inline constexpr const char* kKind = "0130";
inline constexpr const char* kBpid = "ORD00001";
inline constexpr const char* kOwn = "OWNCO0001";
inline constexpr const char* kPartner = "PARTNER01";

struct BenchItem {
    int serial;
    int level;
    int tag;
    int position;
    const char* attribute;
    int length;
    int decimals = 0;
    const char* multi = "0";
    int repeat = 0;
    int message_length = -1;
};

// clang-format off
inline const std::vector<BenchItem> kItems = {
    {1, 0, 1, 1, "X", 10},     {2, 0, 2, 11, "Y", 8},      {3, 0, 3, 19, "Y", 6, 0, "0", 0, 8},
    {4, 0, 4, 25, "X", 13},    {5, 0, 5, 38, "K", 20},     {6, 0, 6, 58, "X", 12},
    {7, 0, 7, 70, "K", 30},    {8, 0, 8, 100, "X", 15},    {9, 0, 9, 115, "9", 10},
    {10, 0, 10, 125, "N", 5},  {11, 0, 11, 130, "9", 9, 2}, {12, 0, 12, 140, "X", 3},
    {13, 0, 13, 143, "Y", 8},  {14, 0, 14, 151, "X", 20},  {15, 0, 15, 171, "K", 10},
    {16, 0, 16, 181, "X", 8},  {17, 0, 17, 189, "9", 7},   {18, 0, 18, 196, "X", 4},
    {19, 0, 40, 200, "M", 0, 0, "1", 10},
    {20, 1, 41, 200, "M", 0, 0, "2", 3},
    {21, 2, 42, 200, "X", 6},  {22, 2, 43, 206, "9", 5},
    {23, 1, 44, 233, "X", 13}, {24, 1, 45, 246, "K", 20},  {25, 1, 46, 266, "9", 7},
    {26, 1, 47, 273, "9", 9, 2}, {27, 1, 48, 283, "N", 3}, {28, 1, 49, 286, "Y", 8},
    {29, 1, 50, 294, "X", 10}, {30, 1, 51, 304, "X", 20},
    {31, 0, 20, 1440, "X", 10}, {32, 0, 21, 1450, "9", 12}, {33, 0, 22, 1462, "9", 12},
    {34, 0, 23, 1474, "K", 40}, {35, 0, 24, 1514, "X", 30}, {36, 0, 25, 1544, "Y", 8},
    {37, 0, 26, 1552, "N", 6},  {38, 0, 27, 1558, "X", 16}, {39, 0, 28, 1574, "X", 5},
    {40, 0, 29, 1579, "X", 1},
};
// clang-format on
inline constexpr std::size_t kRecordLength = 1579;
inline constexpr std::size_t kDetailStart = 200;   // the detail group's first byte
inline constexpr std::size_t kDetailStride = 124;  // one detail occurrence
inline constexpr std::size_t kSubStride = 11;      // one sub-group occurrence

inline DbRow ItemRow(const char* side, const BenchItem& item) {
    const bool message = side[0] == 'E';
    const int length = message && item.message_length >= 0 ? item.message_length : item.length;
    return DbRow{{"フォーマット種別", side},
                 {"情報区分コード", kKind},
                 {"BPID", kBpid},
                 {"項目通番", std::to_string(message ? item.serial : 100 + item.serial)},
                 {"対応項目通番", std::to_string(message ? 100 + item.serial : item.serial)},
                 {"レベル番号", std::to_string(item.level)},
                 {"項目№", std::to_string(message ? item.tag : 0)},
                 {"項目位置", std::to_string(item.position)},
                 {"項目名称", "項目" + std::to_string(item.serial)},
                 {"属性", item.attribute},
                 {"長さ", std::to_string(length)},
                 {"小数部長さ", std::to_string(item.decimals)},
                 {"マルチ明細番号", item.multi},
                 {"繰返し数", std::to_string(item.repeat)}};
}

inline void AddBenchMasters(MemoryMasters& m, const std::string& storage_mode = " ") {
    for (const BenchItem& item : kItems) {
        m.ItemRows.push_back(ItemRow("E", item));
        m.ItemRows.push_back(ItemRow("L", item));
    }
    m.FormatRows.push_back({{"情報区分コード", kKind},
                            {"BPID", kBpid},
                            {"様式識別", "ORD"},
                            {"シンタックスIDバージョン", "3"},
                            {"格納モード", storage_mode},
                            {"1バイト文字集合", "A"},
                            {"2バイト文字集合", "M"},
                            {"ローカル形式", "L"},
                            {"XML文字コード", "Shift_JIS"}});
    m.GroupRows.push_back({{"相手先コード", kPartner},
                           {"自社コード", kOwn},
                           {"情報区分", kKind},
                           {"BPID", kBpid},
                           {"運用モード", "P"},
                           {"発信VANコード", "VAN01"},
                           {"発信センターコード", "CENTER01"},
                           {"発信者コード", kOwn},
                           {"受信VANコード", "VAN02"},
                           {"受信センターコード", "CENTER02"},
                           {"受信者コード", kPartner},
                           {"交換参照番号", "0000000001"},
                           {"シンタックスIDバージョン", "3"},
                           {"格納モード", storage_mode},
                           {"8ビット文字コード", "A"},
                           {"16ビット文字コード", "M"},
                           {"短縮表示", "0"},
                           {"発信VANコード管理機関コード", "001"},
                           {"発信センターコード管理機関コード", "001"},
                           {"発信者コード管理機関コード", "001"},
                           {"受信VANコード管理機関コード", "001"},
                           {"受信センターコード管理機関コード", "001"},
                           {"受信者コード管理機関コード", "001"}});
}

// Answers every information kind and BPID with the masters above (the fuzz target and the
// replay of its seeds, whose headers the fuzzer changes at will).
class AnyKindMasters final : public FormatMasterSource {
public:
    AnyKindMasters() { AddBenchMasters(rows_); }
    LoadResult LoadFormatInfo(std::string_view, std::string_view, FormatInfo& info) override {
        return rows_.LoadFormatInfo(kKind, kBpid, info);
    }
    LoadResult LoadMessageItems(std::string_view, std::string_view, ItemList& items) override {
        return rows_.LoadMessageItems(kKind, kBpid, items);
    }
    LoadResult LoadLocalItems(std::string_view, std::string_view, ItemList& items) override {
        return rows_.LoadLocalItems(kKind, kBpid, items);
    }
    LoadResult LoadMessageGroupInfo(std::string_view, std::string_view, std::string_view,
                                    MessageGroupInfo& info) override {
        return rows_.LoadMessageGroupInfo(kPartner, kOwn, kKind, info);
    }

private:
    MemoryMasters rows_;
};

// Local lines of the kind: a filled header part, a varying number of filled detail occurrences
// (the rest empty), and the values each attribute round-trips with.
class BenchLineMaker {
public:
    explicit BenchLineMaker(unsigned seed) : rng_(seed) {}

    // One line with CR LF, in code page 932.
    std::string Line() {
        std::string record(kRecordLength, ' ');
        const int details = Pick(1, 10);
        for (const BenchItem& item : kItems) {
            if (item.attribute[0] == 'M') continue;
            if (item.level == 0) {
                Put(record, static_cast<std::size_t>(item.position), item, true);
                continue;
            }
            for (int d = 0; d < 10; ++d) {
                const std::size_t base = static_cast<std::size_t>(d) * kDetailStride;
                if (item.level == 1) {
                    Put(record, static_cast<std::size_t>(item.position) + base, item, d < details);
                    continue;
                }
                for (int s = 0; s < 3; ++s) {
                    Put(record,
                        static_cast<std::size_t>(item.position) + base + static_cast<std::size_t>(s) * kSubStride, item,
                        d < details && s < 2);
                }
            }
        }
        std::string key = "     ";
        key += kKind;
        key += "      ";
        key += Padded(kOwn, 12) + Padded(kPartner, 12);
        return key + record + "\r\n";
    }

private:
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    static std::string Padded(std::string s, std::size_t n) {
        s.resize(n, ' ');
        return s;
    }
    void Put(std::string& record, std::size_t position, const BenchItem& item, bool filled) {
        const auto n = static_cast<std::size_t>(item.length);
        std::string v;
        switch (item.attribute[0]) {
            case 'X':
                v = filled ? std::string("ABC-") + std::to_string(Pick(0, 999999)) + "\xB1\xB2" : std::string();
                v.resize(n, ' ');
                break;
            case 'K':
                for (std::size_t k = 0; k < n / 2; ++k) v += filled && k < n / 4 ? "\x93\x8C" : "\x81\x40";
                break;
            case 'Y':
                v = filled ? std::to_string(Pick(1990, 2040)) + "0" + std::to_string(Pick(1, 9)) + "1" +
                                 std::to_string(Pick(0, 9))
                           : std::string(8, '0');
                v = v.substr(8 - n);
                break;
            default: {  // "9" and "N"
                const int whole = item.length - item.decimals;
                std::string digits = filled ? std::to_string(Pick(1, 99999)) : "0";
                digits.insert(0, static_cast<std::size_t>(std::max(0, whole - static_cast<int>(digits.size()))), '0');
                v = digits.substr(digits.size() - static_cast<std::size_t>(whole));
                if (item.decimals != 0)
                    v += "." + std::string(static_cast<std::size_t>(item.decimals), filled ? '5' : '0');
            }
        }
        record.replace(position - 1, v.size(), v);
    }
    std::mt19937 rng_;
};

}  // namespace edi::bench
