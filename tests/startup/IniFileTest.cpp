#include "startup/IniFile.h"

#include <gtest/gtest.h>

#include "IniFuzzTarget.h"
#include "support/TestSupport.h"

namespace edi {
namespace {

IniFile ParseSjis(std::string_view utf8) {
    const Bytes bytes = ToAnsiBytes(utf8);
    return IniFile::Parse(bytes);
}

TEST(IniFileTest, FindsJapaneseAndLatinNamesInAShiftJisFile) {
    test::TempDir dir;
    test::WriteSjisFile(dir / "EDI.ini", "[動作環境]\r\nUSERID = 担当者 \r\n[path]\r\nEdiInFil=/data/in/\r\n[COLOR]\r\n通常=255\r\n");
    const auto path = dir / "EDI.ini";
    EXPECT_EQ(ReadIniValue("動作環境", "USERID", path, 64), "担当者");
    EXPECT_EQ(ReadIniValue("PATH", "EDIINFIL", path, 256), "/data/in/") << "Latin names compare without case";
    EXPECT_EQ(ReadIniValue("color", "通常", path, 64), "255");
    EXPECT_EQ(ReadIniValue("COLOR", "処理中", path, 64), "") << "a missing key";
    EXPECT_EQ(ReadIniValue("NONE", "x", path, 64), "") << "a missing section";
    EXPECT_EQ(ReadIniValue("PATH", "EDIINFIL", dir / "missing.ini", 64), "") << "a missing file";
}

TEST(IniFileTest, DoesNotFoldTheTrailByteOfADoubleByteName) {
    // ヂ is 83 61 and ア is 83 41: folding the trail byte "a" to "A" would make them one name.
    const IniFile ini = ParseSjis("[ヂ]\nキー=1\n[ア]\nキー=2\nk=3\n");
    EXPECT_EQ(IniValueOf(ini, "ヂ", "キー", 64), "1");
    EXPECT_EQ(IniValueOf(ini, "ア", "キー", 64), "2");
    EXPECT_EQ(IniValueOf(ini, "ア", "K", 64), "3");
}

TEST(IniFileTest, CutsLongValuesToTheBuffer) {
    const std::string value(300, 'x');
    const IniFile ini = ParseSjis("[PATH]\nEDIINFIL=" + value + "\nJ=ああああ\n");
    EXPECT_EQ(IniValueOf(ini, "PATH", "EDIINFIL", 256), std::string(255, 'x'));
    EXPECT_EQ(IniValueOf(ini, "PATH", "J", 6), "ああ") << "5 bytes fit two characters and half a third";
    EXPECT_EQ(IniValueOf(ini, "PATH", "J", 1), "");
}

TEST(IniFileTest, SurvivesBadInput) {
    struct Row {
        const char* name;
        std::string content;
        const char* key;
        const char* expected;
    };
    const Row rows[] = {
        {"NUL inside a value ends it", std::string("[S]\nK=ab\0cd\n", 12), "K", "ab"},
        {"line without an equals sign", "[S]\nnoise\nK=v\n", "K", "v"},
        {"invalid Shift-JIS bytes", "[S]\nK=\xFF\x80" "a\n", "K", "\xEF\xBF\xBD\xEF\xBF\xBD" "a"},
        {"key before any section is ignored", "K=x\n[S]\nK=y\n", "K", "y"},
        {"first of duplicate keys wins", "[S]\nK=1\nK=2\n[s]\nK=3\n", "K", "1"},
        {"CR only line ends", "[S]\rK=v\rL=w\r", "K", "v"},
        {"quotes around a value are removed", "[S]\nK=\" a b \"\n", "K", " a b "},
        {"unclosed section header", "[S\nK=v\n", "K", "v"},
        {"empty value", "[S]\nK=\n", "K", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const IniFile ini = IniFile::Parse(ByteView(reinterpret_cast<const std::uint8_t*>(r.content.data()), r.content.size()));
        EXPECT_EQ(IniValueOf(ini, "S", r.key, 64), r.expected);
    }
}

TEST(IniFileTest, ReadsAMegabyteLine) {
    std::string content = "[S]\nBIG=" + std::string(1 << 20, 'z') + "\nK=after\n";
    const IniFile ini =
        IniFile::Parse(ByteView(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()));
    EXPECT_EQ(IniValueOf(ini, "S", "BIG", 256).size(), 255u);
    EXPECT_EQ(IniValueOf(ini, "S", "K", 256), "after");
}

TEST(IniFileTest, ListsASectionInFileOrder) {
    const IniFile ini = ParseSjis("[JKBN_Z_J]\n01=受注\n02=出荷\n[X]\n03=no\n");
    const auto entries = ini.Section("jkbn_z_j");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], (std::pair<std::string, std::string>{"01", "受注"}));
    EXPECT_EQ(entries[1], (std::pair<std::string, std::string>{"02", "出荷"}));
}

TEST(IniFileTest, TextBeforeNulNeedsANul) {
    EXPECT_EQ(TextBeforeNul(std::string("ab\0c", 4)), "ab");
    EXPECT_EQ(TextBeforeNul("abc"), "");
    EXPECT_EQ(TextBeforeNul(std::string("\0", 1)), "");
}

TEST(IniFileTest, ReplaysTheFuzzTargetsSeeds) {
    test::TempDir dir;
    const auto seeds = test::DataFiles("startup/fuzz-ini");
    EXPECT_GE(seeds.size(), 3u);
    for (const auto& seed : seeds) {
        SCOPED_TRACE(seed.filename().string());
        EXPECT_TRUE(bench::ReadIniOnce(test::ReadFile(seed), dir / "EDI.ini"));
    }
}

}  // namespace
}  // namespace edi
