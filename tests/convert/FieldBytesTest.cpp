#include "convert/codec/FieldBytes.h"

#include <gtest/gtest.h>

#include <array>

#include "convert/codec/ErrorLog.h"
#include "support/TestSupport.h"

namespace edi {
namespace {

using test::Hex;

TEST(FieldBytesTest, PacksTextAndReportsWhatItStored) {
    struct Row {
        const char* name;
        const char* text;
        std::size_t size;
        const char* bytes;
        std::uint8_t flags;
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
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Bytes field(r.size, 0xEE);
        EXPECT_EQ(TextToFieldBytes(field, r.text), r.flags);
        EXPECT_EQ(field, Hex(r.bytes));
    }
}

TEST(FieldBytesTest, WidensBeforePacking) {
    Bytes field(7, 0);
    WideTextToFieldBytes(field, "Aｶﾞ1");
    EXPECT_EQ(field, Hex("82 60 83 4B 82 50 20"));
    Bytes narrow(3, 0);
    WideTextToFieldBytes(narrow, "AB");
    EXPECT_EQ(narrow, Hex("82 60 20")) << "the second full-width letter has no room";
}

TEST(FieldBytesTest, TurnsEachByteIntoOneCharacter) {
    EXPECT_EQ(FieldBytesToText(Hex("41 42 20 20 20")), "AB   ");
    const std::string text = FieldBytesToText(Hex("88 9F"));
    EXPECT_EQ(Utf8CharCount(text), 2u) << "a double-byte character gives two characters";
    EXPECT_EQ(text, "\u0088\u009F");
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
    EXPECT_EQ(test::ReadText(dir / "ERR.LOG"),
              "0000--K800300 start--00000012\n0003\n0008\n0021" + std::string("\x8D\x80\x96\xDA\x82\x60\x82\x61") +
                  "\n");
}

TEST(ErrorLogTest, ReportsALogThatCannotBeWritten) {
    ConversionLog log{"/nonexistent-folder/ERR.LOG", ""};
    EXPECT_FALSE(WriteErrorLog(log, 9, "x"));
    EXPECT_EQ(log.ErrorCode, "0009") << "the failure is still known to the converter";
}

}  // namespace
}  // namespace edi
