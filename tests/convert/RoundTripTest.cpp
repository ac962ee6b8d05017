// Local lines written to CII and read back give the same lines, and the CII written again from
// them is the same file, for masters with nested groups, empty occurrences, two-byte tags, long
// elements and every storage mode.
#include <gtest/gtest.h>

#include <random>

#include "ConvertFixtures.h"
#include "convert/LocalCiiConversion.h"

namespace edi {
namespace {

using test::Field;

// One-byte tags; a group of 3 whose first member is a group of 2, then at once a group of 2.
// (Full-width spaces are values: a group holding a "K" item is never empty.)
const std::vector<Field> kNested = {
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
const std::vector<Field> kTwoByte = {
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
const std::vector<Field> kLong = {
    {1, 0, 1, 1, "X", 40000},
    {2, 0, 20, 40001, "M", 0, 0, "1", 2},
    {3, 1, 2, 40001, "X", 5},
    {4, 0, 3, 40011, "K", 6},
};

// The bytes of one occurrence of the items of the given level from item i on.
std::size_t Width(const std::vector<Field>& fs, std::size_t i, int level) {
    std::size_t width = 0;
    for (; i < fs.size() && fs[i].level >= level; ++i) {
        if (fs[i].level != level) continue;
        width += fs[i].attribute == "M"
                     ? static_cast<std::size_t>(std::max(fs[i].repeat, 1)) * Width(fs, i + 1, level + 1)
                     : static_cast<std::size_t>(fs[i].length + (fs[i].decimals != 0 ? 1 : 0));
    }
    return width;
}

// Random local records of a master: every attribute, empty values, occurrences and whole groups.
class LineMaker {
public:
    explicit LineMaker(unsigned seed) : rng_(seed) {}

    Bytes Record(const std::vector<Field>& fs) {
        Bytes record;
        std::size_t i = 0;
        Fill(record, fs, i, 0, 0, false);
        return record;
    }

private:
    int Uniform(int from, int to) { return std::uniform_int_distribution<int>(from, to)(rng_); }
    bool Chance(int percent) { return Uniform(0, 99) < percent; }
    char Digit() { return static_cast<char>('0' + Uniform(0, 9)); }

    void Fill(Bytes& record, const std::vector<Field>& fs, std::size_t& i, int level, std::size_t offset, bool empty) {
        while (i < fs.size() && fs[i].level == level) {
            const Field& f = fs[i++];
            if (f.attribute == "M") {
                const std::size_t stride = Width(fs, i, level + 1);
                const std::size_t first = i;
                const bool whole_group_empty = Chance(20);
                for (int k = 0; k < std::max(f.repeat, 1); ++k) {
                    i = first;
                    Fill(record, fs, i, level + 1, offset + static_cast<std::size_t>(k) * stride,
                         empty || whole_group_empty || Chance(35));
                }
                continue;
            }
            const std::string value = Value(f, empty || Chance(25));
            const std::size_t at = offset + static_cast<std::size_t>(f.position - 1);
            if (record.size() < at + value.size()) record.resize(at + value.size(), ' ');
            std::copy(value.begin(), value.end(), record.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }

    std::string Value(const Field& f, bool empty) {
        const int n = f.length;
        std::string text;
        if (f.attribute == "X") {  // with half-width katakana and blanks inside
            const int used = empty ? 0 : Uniform(1, n);
            for (int k = 0; k < n; ++k)
                text += k >= used ? ' ' : (k > 0 && Chance(10)) ? ' ' : "ABCxyz019-\xB1\xB2\xDF"[Uniform(0, 12)];
        } else if (f.attribute == "9" || f.attribute == "N") {
            for (int k = 0; k < n + (f.decimals != 0 ? 1 : 0); ++k)
                text += f.decimals != 0 && k == n - f.decimals ? '.' : empty ? '0' : Digit();
        } else if (f.attribute == "Y") {
            text = empty ? std::string(8, '0') : std::to_string(Uniform(1951, 2049)) + "0" + Digit() + "1" + Digit();
            text = text.substr(8 - static_cast<std::size_t>(n));
        } else if (f.attribute == "K") {  // 東京Ａ漢, then full-width spaces
            static const char* kWide[] = {"\x93\x8C", "\x8B\x9E", "\x82\x60", "\x8A\xBF", "\x81\x40"};
            const int used = empty ? 0 : Uniform(1, n / 2);
            for (int k = 0; k < n / 2; ++k) text += k < used ? kWide[Uniform(0, 4)] : "\x81\x40";
        }
        return text;
    }

    std::mt19937 rng_;
};

class RoundTripTest : public test::ConverterTest {};

TEST_F(RoundTripTest, LocalToCiiToLocalGivesTheSameLines) {
    struct Row {
        const char* name;
        const std::vector<Field>* fields;
        std::string mode;
        int lines;
        std::string code16 = "M";  // double-byte values in the message: Shift-JIS, JIS pairs, UTF-16
    };
    const Row rows[] = {{"nested, mode ' '", &kNested, " ", 60},
                        {"nested, mode M", &kNested, "M", 60},
                        {"nested, mode S", &kNested, "S", 60},
                        {"two-byte, mode ' '", &kTwoByte, " ", 60},
                        {"two-byte, mode S, JIS", &kTwoByte, "S", 60, "S"},
                        {"two-byte, mode M, UTF-16", &kTwoByte, "M", 60, "U"},
                        {"long, mode ' '", &kLong, " ", 6},
                        {"long, mode M", &kLong, "M", 6},
                        {"long, mode S", &kLong, "S", 6}};
    unsigned seed = 1;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        UseFields(*r.fields, r.mode);
        masters.GroupRows.clear();
        for (const char* partner : {"PTN1", "PTN2"}) test::AddGroupInfo(masters, partner, r.mode, r.code16);
        LineMaker maker(seed++);
        std::string local;
        for (int n = 0; n < r.lines; ++n) {
            const Bytes record = maker.Record(*r.fields);
            local += test::LineKey("0110", "OWN1", (n / 7) % 2 == 0 ? "PTN1" : "PTN2") + test::Text(record) + "\r\n";
        }
        const auto run = [&](std::string_view kind, const char* in, const char* out) {
            return RunLocalCiiConversion("C1", 1, kind, dir / in, dir / out, masters, log, clock);
        };
        for (const char* name : {"out.CII", "back0110.txt", "again.CII"}) std::filesystem::remove(dir / name);
        test::WriteFile(dir / "in.txt", local);
        ASSERT_EQ(run("1", "in.txt", "out.CII"), "0000");
        ASSERT_EQ(run("2", "out.CII", "back.txt"), "0000");
        EXPECT_TRUE(test::ReadText(dir / "back0110.txt") == local);
        ASSERT_EQ(run("1", "back0110.txt", "again.CII"), "0000");
        EXPECT_TRUE(test::ReadFile(dir / "again.CII") == test::ReadFile(dir / "out.CII"));
        EXPECT_EQ(LogLines().size(), 3u * static_cast<std::size_t>(seed - 1)) << "start lines only";
    }
}

}  // namespace
}  // namespace edi
