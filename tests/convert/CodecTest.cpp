#include <gtest/gtest.h>

#include "convert/codec/Codec.h"
#include "convert/codec/ErrorLog.h"
#include "convert/codec/FieldBytes.h"
#include "support/TestSupport.h"

namespace edi {
namespace {

using test::Hex;

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

TEST(CodecTest, MarksWhatCannotBeConverted) {
    EXPECT_EQ(ToAnsiBytes("A😀B"), Hex("41 3F 42")) << "a character outside the code page becomes ?";
    EXPECT_EQ(ToAnsiBytes("A\xFF"
                          "B"),
              Hex("41 3F 42"))
        << "broken UTF-8 becomes ?";
    EXPECT_EQ(ToUnicodeText(Hex("41 88")), "A\xEF\xBF\xBD") << "a lone lead byte at the end";
    EXPECT_EQ(ToUnicodeText(Hex("88 9F 41 FF 42")),
              "亜A\xEF\xBF\xBD"
              "B")
        << "an unassigned byte";
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

TEST(ErrorLogTest, AppendsCodeAndTextAndKeepsWarningsOutOfErrorCode) {
    test::TempDir dir;
    ConversionLog log{dir / "ERR.LOG", ""};
    EXPECT_TRUE(WriteErrorLog(log, 0, "--K800300 start--00000012"));
    EXPECT_EQ(log.ErrorCode, "") << "a start line never sets the code";
    EXPECT_TRUE(WriteErrorLog(log, 3, "", 0));
    EXPECT_EQ(log.ErrorCode, "0003");
    EXPECT_TRUE(WriteErrorLog(log, 8, "", 1));
    EXPECT_EQ(log.ErrorCode, "0003") << "a warning keeps the code";
    EXPECT_TRUE(WriteErrorLog(log, 21, "項目ＡＢ"));
    EXPECT_EQ(log.ErrorCode, "0021");
    EXPECT_EQ(test::ReadText(dir / "ERR.LOG"), "0000--K800300 start--00000012\n0003\n0008\n0021" +
                                                   std::string("\x8D\x80\x96\xDA\x82\x60\x82\x61") + "\n");
    ConversionLog unwritable{"/nonexistent-folder/ERR.LOG", ""};
    EXPECT_FALSE(WriteErrorLog(unwritable, 9, "x"));
    EXPECT_EQ(unwritable.ErrorCode, "0009") << "the failure is still known to the converter";
}

}  // namespace
}  // namespace edi
