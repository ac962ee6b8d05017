#include <gtest/gtest.h>

#include "ConvertFixtures.h"
#include "convert/AttributeEdit.h"
#include "convert/codec/Codec.h"
#include "convert/codec/ErrorLog.h"
#include "convert/codec/FieldBytes.h"

namespace edi {
namespace {

// JIS pairs: an even or odd first byte, a second byte on either side of 0x7F, a first byte above 0x9F.
TEST(AttributeEditTest, ConvertsDoubleByteDataInEveryDirectionAndElementBytesToText) {
    struct Case {
        const char* direction;
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"MM", "88 9F 82 A0", "88 9F 82 A0"},
        {"MS", "88 9F 82 A0", "30 21 24 22"},
        {"MS", "81 5B 81 80 EA A4", "21 3C 21 60 74 26"},
        {"MS", "41 B1 88 9F 7A", "41 B1 30 21 7A"},  // ASCII and half-width katakana pass unchanged
        {"MU", "88 9F 82 A0", "4E 9C 30 42"},
        {"SM", "30 21 24 22", "88 9F 82 A0"},
        {"SM", "21 3C 21 60 74 26", "81 5B 81 80 EA A4"},
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
        const char* direction = "MM";
    };
    const Case cases[] = {
        {"XX pads with spaces", Item("X", 3), Item("X", 5), Raw("ABC"), Raw("ABC  ")},
        {"XX counts characters", Item("X", 3), Item("X", 5), Hex("88 9F 41"), Hex("88 9F 41 20 20 20")},
        {"XX never cuts", Item("X", 6), Item("X", 3), Raw("ABCDEF"), Raw("ABCDEF")},
        {"KK pads with full-width spaces", Item("K", 2), Item("K", 6), Hex("88 9F"), Hex("88 9F 81 40 81 40")},
        {"KK leaves an odd byte to the template", Item("K", 2), Item("K", 5), Hex("88 9F"), Hex("88 9F 81 40")},
        {"Y9 year 49 is 2049", Item("Y", 6), Item("9", 8), Raw("491231"), Raw("20491231")},
        {"YY year 50 is 2050", Item("Y", 6), Item("Y", 8), Raw("500101"), Raw("20500101")},
        {"YY year 51 is 1951", Item("Y", 6), Item("Y", 8), Raw("510101"), Raw("19510101")},
        {"YY short date padded first", Item("Y", 6), Item("Y", 8), Raw("21125"), Raw("20021125")},
        {"9Y keeps the rightmost local length", Item("9", 8), Item("Y", 6), Raw("20240131"), Raw("240131")},
        {"KK through JIS", Item("K", 2), Item("K", 4), Hex("30 21"), Hex("88 9F 81 40"), "SM"},
        // A pair no edit knows gives nothing and a warning; attributes are compared as stored.
        {"XK is unknown", Item("X", 3), Item("K", 4), Raw("ABC"), {}},
        {"\"X \"X is unknown", Item("X ", 3), Item("X", 3), Raw("ABC"), {}},
        {"BX is unknown", Item("B", 3), Item("X", 3), Raw("ABC"), {}},
    };
    test::TempDir dir;
    ConversionLog log{dir / "ERR.LOG", "0003"};
    Bytes out;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(log.file);
        EXPECT_EQ(EditForLocal(c.element, c.local, c.message, c.direction, log, out), !c.expected.empty());
        EXPECT_EQ(out, c.expected);
        EXPECT_EQ(std::filesystem::exists(log.file) ? test::ReadText(log.file) : "",
                  c.expected.empty() ? "0021\n" : "");
    }
    EXPECT_EQ(log.ErrorCode, "0003") << "a warning keeps the last failure code";
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

TEST(CodecTest, ConvertsCodePage932OnlyCharactersBothWays) {
    // Characters where plain Shift_JIS tables differ from code page 932: wave dash, minus, circled
    // one, half-width kana, kanji, the yen sign that is a backslash, an NEC extension.
    const std::pair<const char*, const char*> rows[] = {
        {"～", "81 60"}, {"－", "81 7C"}, {"①", "87 40"}, {"ｱｲｳ", "B1 B2 B3"},
        {"亜", "88 9F"}, {"\\", "5C"},    {"ⅰ", "FA 40"},
    };
    for (const auto& [text, sjis] : rows) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ToAnsiBytes(text), Hex(sjis));
        EXPECT_EQ(ToUnicodeText(Hex(sjis)), text);
    }
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "日本語ﾃｷｽﾄabc";
    const Bytes bytes = ToAnsiBytes(text);
    EXPECT_EQ(bytes.size(), 2000u * 13) << "long texts stay whole";
    EXPECT_EQ(ToUnicodeText(bytes), text);
}

// A character outside the code page and broken UTF-8 become "?"; a lone lead byte at the end and an
// unassigned byte become U+FFFD.
TEST(CodecTest, MarksWhatCannotBeConverted) {
    EXPECT_EQ(ToAnsiBytes("A😀B"), Hex("41 3F 42"));
    EXPECT_EQ(ToAnsiBytes(std::string("A\xFF") + "B"), Hex("41 3F 42"));
    EXPECT_EQ(ToUnicodeText(Hex("41 88")), "A\uFFFD");
    EXPECT_EQ(ToUnicodeText(Hex("88 9F 41 FF 42")), "亜A\uFFFDB");
    EXPECT_FALSE(IsAnsiText("A😀"));
    EXPECT_TRUE(IsAnsiText("Aア①"));
}

// Lengths and cuts count bytes of the code page; text outside it is measured on its UTF-16 storage.
TEST(CodecTest, CountsAndCutsOnBytesOfTheCodePage) {
    const std::pair<int, int> lengths[] = {{AnsiLenB("ｱｲｳ"), 3}, {AnsiLenB("アイウ"), 6}, {AnsiLenB("ABC"), 3},
                                           {AnsiLenB(""), 0},    {AnsiLenB("日本ab"), 6}, {AnsiLenB("A😀"), 6},
                                           {AnsiLenB("é"), 2}};
    for (std::size_t i = 0; i < std::size(lengths); ++i) EXPECT_EQ(lengths[i].first, lengths[i].second) << "row " << i;
    const std::pair<std::optional<std::string>, std::string> cuts[] = {
        {AnsiLeftB("A😀", 2), "A"},       {AnsiLeftB("A😀", 6), "A😀"},
        {AnsiMidB("A😀", 3), "😀"},        {AnsiMidB("AアB", 2, 2), "ア"},
        {AnsiMidB("AアB", 4), "B"},      {AnsiMidB("AアB", 5), ""},  // start beyond the end
        {AnsiMidB("AアB", 1, 0), ""},    {AnsiLeftB("", 3), ""},
        {AnsiLeftB("ｱｲｳ", 2), "ｱｲ"},     {AnsiLeftB("アイ", 4), "アイ"},
        {AnsiLeftB("アイ", 10), "アイ"}, {AnsiLeftB("アイ", 3), "ア\xEF\xBF\xBD"},  // a split character keeps one byte
    };
    for (std::size_t i = 0; i < std::size(cuts); ++i) EXPECT_EQ(cuts[i].first, cuts[i].second) << "row " << i;
    EXPECT_FALSE(AnsiMidB("AアB", 0).has_value()) << "a start below 1 is an error";
}

TEST(CodecTest, WidensHalfWidthCharacters) {
    const std::pair<const char*, const char*> rows[] = {
        {"AZaz09", "ＡＺａｚ０９"},       {"A B", "Ａ\u3000Ｂ"}, {"!~", "！～"}, {"ｱｲｳ", "アイウ"},
        {"ｶﾞｷﾞﾊﾟﾎﾟ", "ガギパポ"},         {"ｳﾞ", "ヴ"},          {"ｱﾞ", "ア゛"}, {"ﾂﾞﾄﾞ", "ヅド"},
        {"ｯｬｰ｡｢｣､･", "ッャー。「」、・"}, {"漢字ア", "漢字ア"},  {"ﾟ", "゜"},
    };
    for (const auto& [half, full] : rows) {
        SCOPED_TRACE(half);
        EXPECT_EQ(ToFullWidth(half), full);
        EXPECT_TRUE(IsAnsiText(ToFullWidth(half))) << "every full-width form has a code-page form";
    }
}

TEST(FieldBytesTest, PacksTextAndReportsWhatItStored) {
    struct Row {
        const char* name;
        const char* text;
        std::size_t size;
        const char* bytes;
        std::uint8_t flags;
        bool widen = false;
    };
    const Row rows[] = {
        {"single bytes padded", "AB", 5, "41 42 20 20 20", 1},
        {"full then half width", "亜A", 4, "88 9F 41 20", 3},
        {"only double bytes", "亜亜", 4, "88 9F 88 9F", 2},
        {"cut at the field end", "ABCDEF", 3, "41 42 43", 1},
        {"half-width kana is single byte", "ｱ", 2, "B1 20", 1},
        {"empty text is all spaces", "", 3, "20 20 20", 0},
        {"double byte at the last position becomes a space", "A亜", 2, "41 20", 1},
        {"nothing fits but a lead byte", "亜", 1, "20", 0},
        {"widened before packing", "Aｶﾞ1", 7, "82 60 83 4B 82 50 20", 0, true},
        {"widened, the second letter has no room", "AB", 3, "82 60 20", 0, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Bytes field(r.size, 0xEE);
        if (r.widen) {
            WideTextToFieldBytes(field, r.text);
        } else {
            EXPECT_EQ(TextToFieldBytes(field, r.text), r.flags);
        }
        EXPECT_EQ(field, Hex(r.bytes));
    }
    EXPECT_EQ(FieldBytesToText(Hex("41 42 20 20 20")), "AB   ");
    EXPECT_EQ(FieldBytesToText(Hex("88 9F")), "\u0088\u009F") << "each byte becomes one character";
}

TEST(ErrorLogTest, AnUnwritableLogStillSetsTheCode) {
    ConversionLog unwritable{"/nonexistent-folder/ERR.LOG", ""};
    EXPECT_FALSE(WriteErrorLog(unwritable, 9, "x"));
    EXPECT_EQ(unwritable.ErrorCode, "0009") << "the failure is still known to the converter";
}

}  // namespace
}  // namespace edi
