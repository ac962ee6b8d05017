#include "convert/codec/Codec.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace edi {
namespace {

using test::Hex;

TEST(CodecTest, ConvertsCodePage932OnlyCharactersBothWays) {
    struct Row {
        const char* name;
        const char* text;
        const char* sjis;
    };
    // Characters where plain Shift_JIS tables differ from code page 932.
    const Row rows[] = {
        {"wave dash", "～", "81 60"},         {"minus", "－", "81 7C"},   {"circled one", "①", "87 40"},
        {"half-width kana", "ｱｲｳ", "B1 B2 B3"}, {"kanji", "亜", "88 9F"},   {"yen sign is backslash", "\\", "5C"},
        {"NEC extension", "ⅰ", "FA 40"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(ToAnsiBytes(r.text), Hex(r.sjis));
        EXPECT_EQ(ToUnicodeText(Hex(r.sjis)), r.text);
    }
}

TEST(CodecTest, MarksWhatCannotBeConverted) {
    EXPECT_EQ(ToAnsiBytes("A😀B"), Hex("41 3F 42")) << "a character outside the code page becomes ?";
    EXPECT_EQ(ToAnsiBytes("A\xFF" "B"), Hex("41 3F 42")) << "broken UTF-8 becomes ?";
    EXPECT_EQ(ToUnicodeText(Hex("41 88")), "A\xEF\xBF\xBD") << "a lone lead byte at the end";
    EXPECT_EQ(ToUnicodeText(Hex("88 9F 41 FF 42")), "亜A\xEF\xBF\xBD" "B") << "an unassigned byte";
}

TEST(CodecTest, CountsBytesOfTheCodePage) {
    EXPECT_EQ(AnsiLenB("ｱｲｳ"), 3);
    EXPECT_EQ(AnsiLenB("アイウ"), 6);
    EXPECT_EQ(AnsiLenB("ABC"), 3);
    EXPECT_EQ(AnsiLenB(""), 0);
    EXPECT_EQ(AnsiLenB("日本ab"), 6);
}

TEST(CodecTest, TextOutsideTheCodePageIsMeasuredOnItsUtf16Storage) {
    EXPECT_FALSE(IsAnsiText("A😀"));
    EXPECT_TRUE(IsAnsiText("Aア①"));
    EXPECT_EQ(AnsiLenB("A😀"), 6) << "one unit for A, a surrogate pair for the emoji";
    EXPECT_EQ(AnsiLenB("é"), 2) << "é has no code-page form: one UTF-16 unit";
    EXPECT_EQ(AnsiLeftB("A😀", 2), "A");
    EXPECT_EQ(AnsiLeftB("A😀", 6), "A😀");
    EXPECT_EQ(AnsiMidB("A😀", 3).value(), "😀");
}

TEST(CodecTest, CutsOnBytesOfTheCodePage) {
    EXPECT_EQ(AnsiMidB("AアB", 2, 2).value(), "ア");
    EXPECT_EQ(AnsiMidB("AアB", 4).value(), "B");
    EXPECT_EQ(AnsiMidB("AアB", 5).value(), "") << "start beyond the end";
    EXPECT_EQ(AnsiMidB("AアB", 1, 0).value(), "");
    EXPECT_FALSE(AnsiMidB("AアB", 0).has_value()) << "a start below 1 is an error";
    EXPECT_EQ(AnsiLeftB("", 3), "");
    EXPECT_EQ(AnsiLeftB("ｱｲｳ", 2), "ｱｲ");
    EXPECT_EQ(AnsiLeftB("アイ", 4), "アイ");
    EXPECT_EQ(AnsiLeftB("アイ", 10), "アイ");
    EXPECT_EQ(AnsiLeftB("アイ", 3), "ア\xEF\xBF\xBD") << "a split character keeps one byte";
}

TEST(CodecTest, WidensHalfWidthCharacters) {
    struct Row {
        const char* half;
        const char* full;
    };
    const Row rows[] = {
        {"AZaz09", "ＡＺａｚ０９"}, {"A B", "Ａ\u3000Ｂ"},    {"!~", "！～"},       {"ｱｲｳ", "アイウ"},
        {"ｶﾞｷﾞﾊﾟﾎﾟ", "ガギパポ"},    {"ｳﾞ", "ヴ"},          {"ｱﾞ", "ア゛"},        {"ﾂﾞﾄﾞ", "ヅド"},
        {"ｯｬｰ｡｢｣､･", "ッャー。「」、・"}, {"漢字ア", "漢字ア"}, {"ﾟ", "゜"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.half);
        EXPECT_EQ(ToFullWidth(r.half), r.full);
        EXPECT_TRUE(IsAnsiText(ToFullWidth(r.half))) << "every full-width form has a code-page form";
    }
}

TEST(CodecTest, KeepsLongTextsWhole) {
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "日本語ﾃｷｽﾄabc";
    const Bytes bytes = ToAnsiBytes(text);
    EXPECT_EQ(bytes.size(), 2000u * 13);
    EXPECT_EQ(ToUnicodeText(bytes), text);
}

}  // namespace
}  // namespace edi
