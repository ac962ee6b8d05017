#include "convert/AttributeEdit.h"

#include <gtest/gtest.h>

#include "ConvertFixtures.h"

namespace edi {
namespace {

using test::Hex;
using test::Raw;

TEST(AttributeEditTest, ConvertsBetweenJisAndShiftJisPairs) {
    struct Pair {
        const char* name;
        const char* jis;
        const char* sjis;
    };
    const Pair pairs[] = {
        {"亜: even first byte", "30 21", "88 9F"},
        {"あ", "24 22", "82 A0"},
        {"ー: odd first byte, low second", "21 3C", "81 5B"},
        {"÷: odd first byte, second byte skips 0x7F", "21 60", "81 80"},
        {"腕", "4F 53", "98 72"},
        {"熙: first byte above 0x9F", "74 26", "EA A4"},
        {"ヴ", "25 74", "83 94"},
        {"two characters", "30 21 24 22", "88 9F 82 A0"},
    };
    for (const Pair& p : pairs) {
        SCOPED_TRACE(p.name);
        Bytes sjis;
        JisToShiftJis(Hex(p.jis), sjis);
        EXPECT_EQ(sjis, Hex(p.sjis));
        Bytes jis;
        ShiftJisToJis(Hex(p.sjis), jis);
        EXPECT_EQ(jis, Hex(p.jis));
    }
    Bytes out;
    ShiftJisToJis(Hex("41 B1 88 9F 7A"), out);
    EXPECT_EQ(out, Hex("41 B1 30 21 7A")) << "ASCII and half-width katakana pass unchanged";
}

TEST(AttributeEditTest, ConvertsDoubleByteDataInEveryDirection) {
    struct Case {
        const char* direction;
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"MM", "88 9F 82 A0", "88 9F 82 A0"},
        {"MS", "88 9F 82 A0", "30 21 24 22"},
        {"MU", "88 9F 82 A0", "4E 9C 30 42"},
        {"SM", "30 21 24 22", "88 9F 82 A0"},
        {"SS", "30 21 24 22", "30 21 24 22"},
        {"SU", "30 21", "4E 9C"},
        {"UM", "4E 9C 30 42", "88 9F 82 A0"},
        {"US", "4E 9C", "30 21"},
        {"UU", "4E 9C 00 E9", "4E 9C 00 3F"},  // é has no Shift-JIS form: UTF-16 passes through the local code
        {"UM", "00 E9", "3F"},
        {"MX", "88 9F", "88 9F"},
        {"XS", "88 9F", "88 9F"},  // only "MS" and "US" become JIS
    };
    Bytes out;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.direction) + " " + c.in);
        DoubleBytesToText(Hex(c.in), c.direction, out);
        EXPECT_EQ(out, Hex(c.out));
    }
}

TEST(AttributeEditTest, TurnsElementBytesIntoText) {
    EXPECT_EQ(BytesToText(Hex("B1 88 9F 41")), "ｱ亜A");
    EXPECT_EQ(CharCount(Hex("B1 88 9F 41")), 3u);
    EXPECT_EQ(CharCount(Hex("41 88")), 2u) << "a lead byte at the end counts as a character";
}

RecordFormatItem Item(std::string attribute, std::int32_t length, std::int32_t decimals = 0) {
    RecordFormatItem item;
    item.属性 = std::move(attribute);
    item.長さ = length;
    item.小数部長さ = decimals;
    return item;
}

TEST(AttributeEditTest, EditsEachAttributePairForTheLocalField) {
    struct Case {
        const char* name;
        RecordFormatItem message;
        RecordFormatItem local;
        Bytes element;
        Bytes expected;
    };
    const Case cases[] = {
        {"XX pads with spaces", Item("X", 3), Item("X", 5), Raw("ABC"), Raw("ABC  ")},
        {"XX counts characters", Item("X", 3), Item("X", 5), Hex("88 9F 41"), Hex("88 9F 41 20 20 20")},
        {"XX never cuts", Item("X", 6), Item("X", 3), Raw("ABCDEF"), Raw("ABCDEF")},
        {"KK pads with full-width spaces", Item("K", 2), Item("K", 6), Hex("88 9F"), Hex("88 9F 81 40 81 40")},
        {"KK leaves an odd byte to the template", Item("K", 2), Item("K", 5), Hex("88 9F"), Hex("88 9F 81 40")},
        {"Y9 year 49 is 2049", Item("Y", 6), Item("9", 8), Raw("491231"), Raw("20491231")},
        {"YY year 99 is 1999", Item("Y", 6), Item("Y", 8), Raw("991231"), Raw("19991231")},
        {"YY year 50 is 2050", Item("Y", 6), Item("Y", 8), Raw("500101"), Raw("20500101")},
        {"YY year 51 is 1951", Item("Y", 6), Item("Y", 8), Raw("510101"), Raw("19510101")},
        {"YY short date padded first", Item("Y", 6), Item("Y", 8), Raw("21125"), Raw("20021125")},
        {"9Y keeps the rightmost local length", Item("9", 8), Item("Y", 6), Raw("20240131"), Raw("240131")},
    };
    test::TempDir dir;
    ConversionLog log{dir / "ERR.LOG", ""};
    Bytes out;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(EditForLocal(c.element, c.local, c.message, "MM", log, out));
        EXPECT_EQ(out, c.expected);
    }
    EXPECT_FALSE(std::filesystem::exists(log.file)) << "known pairs log nothing";

    SCOPED_TRACE("KK through JIS");
    EXPECT_TRUE(EditForLocal(Hex("30 21"), Item("K", 4), Item("K", 2), "SM", log, out));
    EXPECT_EQ(out, Hex("88 9F 81 40"));
}

// Every pair of numbers with and without decimals on either side, messages shorter and longer than
// the local field: the value always fills exactly the local field ("00000.00" for 長さ 7 with two
// decimals), so it is never shifted against the field's point; one too wide is cut and logged.
TEST(AttributeEditTest, NumbersFillTheLocalFieldWithThePointInPlace) {
    struct Case {
        const char* name;
        RecordFormatItem message;
        RecordFormatItem local;
        const char* element;
        const char* expected;
        bool cut = false;  // logged as code 22
    };
    const Case cases[] = {
        {"99 whole message, local decimals", Item("9", 5), Item("9", 7, 2), "47", "00047.00"},
        {"99 shorter message, local decimals", Item("9", 3), Item("9", 7, 2), "47", "00047.00"},
        {"99 longer message, local decimals", Item("9", 9), Item("9", 7, 2), "000000047", "00047.00"},
        {"99 decimals both sides", Item("9", 7, 2), Item("9", 7, 2), "12345", "00123.45"},
        {"99 more message decimals are cut", Item("9", 5, 3), Item("9", 7, 2), "47", "00000.04"},
        {"99 fewer message decimals are padded", Item("9", 6, 1), Item("9", 7, 2), "475", "00047.50"},
        {"99 longer message decimals, shorter local", Item("9", 9, 2), Item("9", 4, 1), "4712", "047.1"},
        {"99 decimals dropped for a whole local field", Item("9", 7, 2), Item("9", 6), "12345", "000123"},
        {"99 whole both sides, local longer", Item("9", 5), Item("9", 7), "47", "0000047"},
        {"99 whole both sides, message longer", Item("9", 9), Item("9", 5), "000000047", "00047"},
        {"99 too wide for a whole field", Item("9", 3), Item("9", 2), "12345", "45", true},
        {"99 too wide for the digits before the point", Item("9", 7), Item("9", 5, 2), "1234567", "567.00", true},
        {"9N local decimals", Item("9", 5), Item("N", 7, 2), "47", "00047.00"},
        {"9N message decimals, whole local", Item("9", 4, 2), Item("N", 5), "4712", "00047"},
        {"N9 whole part with its sign", Item("N", 6), Item("9", 5), "-12.7", "-0012"},
        {"N9 point of the element into local decimals", Item("N", 6), Item("9", 6, 3), "-12.7", "-12.700"},
        {"NN local decimals", Item("N", 3), Item("N", 7, 2), "47", "00047.00"},
        {"NN blanks inside the number are skipped", Item("N", 4), Item("N", 4), " 1 2", "0012"},
        {"NN text that is no number reads as 0", Item("N", 3), Item("N", 4), "abc", "0000"},
        {"NN minus zero has no sign", Item("N", 4), Item("N", 3), "-0.5", "000"},
        {"NN a kept fraction keeps the sign", Item("N", 4), Item("N", 4, 2), "-0.5", "-0.50"},
        {"NN sign and digits too wide", Item("N", 4), Item("N", 3), "-123", "-23", true},
    };
    test::TempDir dir;
    ConversionLog log{dir / "ERR.LOG", ""};
    Bytes out;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(log.file);
        EXPECT_TRUE(EditForLocal(Raw(c.element), c.local, c.message, "MM", log, out));
        EXPECT_EQ(std::string(out.begin(), out.end()), c.expected);
        EXPECT_EQ(std::filesystem::exists(log.file) ? ToUnicodeText(test::ReadText(log.file)) : "",
                  c.cut ? "0022項目№=0 " + std::string(c.element) + "\n" : "");
    }
}

TEST(AttributeEditTest, LogsAnUnknownPairAsAWarningAndGivesNothing) {
    test::TempDir dir;
    ConversionLog log{dir / "ERR.LOG", "0003"};
    const RecordFormatItem pairs[][2] = {
        {Item("X", 3), Item("K", 4)},
        {Item("X ", 3), Item("X", 3)},  // attributes are compared as stored
        {Item("B", 3), Item("X", 3)},
    };
    Bytes out = Raw("left over");
    for (const auto& p : pairs) {
        SCOPED_TRACE(p[0].属性 + p[1].属性);
        EXPECT_FALSE(EditForLocal(Raw("ABC"), p[1], p[0], "MM", log, out));
        EXPECT_TRUE(out.empty());
    }
    EXPECT_EQ(test::ReadText(log.file), "0021\n0021\n0021\n");
    EXPECT_EQ(log.ErrorCode, "0003") << "a warning keeps the last failure code";
}

}  // namespace
}  // namespace edi
