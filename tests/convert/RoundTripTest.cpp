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

std::size_t Width(const std::vector<Field>& fs, std::size_t i, int level) {
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
    bool Chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(rng_) < percent; }
    char Digit() { return static_cast<char>('0' + std::uniform_int_distribution<int>(0, 9)(rng_)); }

    void Fill(Bytes& record, const std::vector<Field>& fs, std::size_t& i, int level, std::size_t offset, bool empty) {
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
            const Bytes value = Value(f, empty || Chance(25));
            const std::size_t at = offset + static_cast<std::size_t>(f.position - 1);
            if (record.size() < at + value.size()) record.resize(at + value.size(), ' ');
            std::copy(value.begin(), value.end(), record.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }

    Bytes Value(const Field& f, bool empty) {
        const auto n = static_cast<std::size_t>(f.length);
        std::string text;
        if (f.attribute == "X") {
            static const std::string kChars = "ABCxyz019-\xB1\xB2\xDF";  // with half-width katakana
            const std::size_t used = empty ? 0 : std::uniform_int_distribution<std::size_t>(1, n)(rng_);
            for (std::size_t k = 0; k < used; ++k) {
                const char c = kChars[std::uniform_int_distribution<std::size_t>(0, kChars.size() - 1)(rng_)];
                text += (k > 0 && Chance(10)) ? ' ' : c;
            }
            text.resize(n, ' ');
        } else if (f.attribute == "9" || f.attribute == "N") {
            for (int k = 0; k < f.length - f.decimals; ++k) text += empty ? '0' : Digit();
            if (f.decimals != 0) {
                text += '.';
                for (int k = 0; k < f.decimals; ++k) text += empty ? '0' : Digit();
            }
        } else if (f.attribute == "Y") {
            if (empty) return Bytes(n, '0');
            const int year = std::uniform_int_distribution<int>(1951, 2049)(rng_);
            text = std::to_string(year) + "0" + Digit() + "1" + Digit();
            text = text.substr(text.size() - n);
        } else if (f.attribute == "K") {
            static const char* kWide[] = {"\x93\x8C", "\x8B\x9E", "\x82\x60", "\x8A\xBF", "\x81\x40"};  // 東京Ａ漢　
            const std::size_t used = empty ? 0 : std::uniform_int_distribution<std::size_t>(1, n / 2)(rng_);
            for (std::size_t k = 0; k < n / 2; ++k)
                text += k < used ? kWide[std::uniform_int_distribution<int>(0, 4)(rng_)] : "\x81\x40";
        }
        return Bytes(text.begin(), text.end());
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
        masters = MemoryMasters();
        test::AddFields(masters, "0110", "BP000001", *r.fields);
        test::AddFormat(masters, "0110", "BP000001", r.mode);
        test::AddGroupInfo(masters, "PTN1", "OWN1", "0110", "BP000001", r.mode, r.code16);
        test::AddGroupInfo(masters, "PTN2", "OWN1", "0110", "BP000001", r.mode, r.code16);
        LineMaker maker(seed++);
        Bytes local;
        for (int n = 0; n < r.lines; ++n) {
            const std::string key = test::LineKey("0110", "OWN1", (n / 7) % 2 == 0 ? "PTN1" : "PTN2");
            const Bytes record = maker.Record(*r.fields);
            local.insert(local.end(), key.begin(), key.end());
            local.insert(local.end(), record.begin(), record.end());
            local.insert(local.end(), {'\r', '\n'});
        }
        const auto run = [&](std::string_view kind, const std::filesystem::path& in, const std::filesystem::path& out) {
            return RunLocalCiiConversion("C1", 1, kind, in, out, masters, log, clock);
        };
        for (const char* name : {"in.txt", "out.CII", "back0110.txt", "again.CII"}) std::filesystem::remove(dir / name);
        test::WriteFile(dir / "in.txt", local);
        ASSERT_EQ(run("1", dir / "in.txt", dir / "out.CII"), "0000");
        ASSERT_EQ(run("2", dir / "out.CII", dir / "back.txt"), "0000");
        const Bytes back = test::ReadFile(dir / "back0110.txt");
        ASSERT_EQ(back.size(), local.size());
        EXPECT_TRUE(back == local);
        ASSERT_EQ(run("1", dir / "back0110.txt", dir / "again.CII"), "0000");
        EXPECT_TRUE(test::ReadFile(dir / "again.CII") == test::ReadFile(dir / "out.CII"));
        EXPECT_EQ(LogLines().size(), 3u * static_cast<std::size_t>(seed - 1)) << "start lines only";
    }
}

}  // namespace
}  // namespace edi
