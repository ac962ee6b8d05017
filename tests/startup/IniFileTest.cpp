#include <gtest/gtest.h>

#include "IniFuzzTarget.h"
#include "startup/IniFile.h"
#include "support/TestSupport.h"

namespace edi {
namespace {

TEST(IniFileTest, ReadsValuesOfAnyFileIntoTheBuffer) {
    struct Row {
        const char* name;
        std::string content;  // raw bytes, or UTF-8 written as Shift-JIS when sjis
        const char* section;
        const char* key;
        std::size_t size;
        std::string expected;
        bool sjis = false;
    };
    const Row rows[] = {
        {"blanks around key and value", "[動作環境]\r\nUSERID = 担当者 \r\n", "動作環境", "USERID", 64, "担当者", true},
        {"Latin names compare without case", "[path]\r\nEdiInFil=/data/in/\r\n", "PATH", "EDIINFIL", 256, "/data/in/"},
        {"a missing key", "[COLOR]\r\n通常=255\r\n", "color", "処理中", 64, "", true},
        {"a missing section", "[COLOR]\r\n通常=255\r\n", "NONE", "通常", 64, "", true},
        // ヂ is 83 61 and ア is 83 41: folding the trail byte "a" to "A" would make them one name.
        {"trail byte of ヂ not folded", "[ヂ]\nキー=1\n[ア]\nキー=2\n", "ヂ", "キー", 64, "1", true},
        {"trail byte of ア not folded", "[ヂ]\nキー=1\n[ア]\nキー=2\nk=3\n", "ア", "キー", 64, "2", true},
        {"Latin key under a double-byte section", "[ア]\nk=3\n", "ア", "K", 64, "3", true},
        {"long value cut to the buffer", "[S]\nK=" + std::string(300, 'x') + "\n", "S", "K", 256,
         std::string(255, 'x')},
        {"5 bytes fit two characters and half a third", "[S]\nJ=ああああ\n", "S", "J", 6, "ああ", true},
        {"a one-byte buffer", "[S]\nJ=ああああ\n", "S", "J", 1, "", true},
        {"the line after a megabyte line", "[S]\nBIG=" + std::string(1 << 20, 'z') + "\nK=after\n", "S", "K", 256,
         "after"},
        {"NUL inside a value ends it", std::string("[S]\nK=ab\0cd\n", 12), "S", "K", 64, "ab"},
        {"line without an equals sign", "[S]\nnoise\nK=v\n", "S", "K", 64, "v"},
        {"invalid Shift-JIS bytes",
         "[S]\nK=\xFF\x80"
         "a\n",
         "S", "K", 64,
         "\xEF\xBF\xBD\xEF\xBF\xBD"
         "a"},
        {"key before any section is ignored", "K=x\n[S]\nK=y\n", "S", "K", 64, "y"},
        {"first of duplicate keys wins", "[S]\nK=1\nK=2\n[s]\nK=3\n", "S", "K", 64, "1"},
        {"CR only line ends", "[S]\rK=v\rL=w\r", "S", "K", 64, "v"},
        {"quotes around a value are removed", "[S]\nK=\" a b \"\n", "S", "K", 64, " a b "},
        {"unclosed section header", "[S\nK=v\n", "S", "K", 64, "v"},
        {"empty value", "[S]\nK=\n", "S", "K", 64, ""},
    };
    test::TempDir dir;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        test::WriteFile(dir / "EDI.ini", r.sjis ? ToAnsiBytes(r.content) : Bytes(r.content.begin(), r.content.end()));
        EXPECT_EQ(ReadIniValue(r.section, r.key, dir / "EDI.ini", r.size), r.expected);
    }
    EXPECT_EQ(ReadIniValue("S", "K", dir / "missing.ini", 64), "") << "a missing file";
}

TEST(IniFileTest, ListsASectionInFileOrder) {
    const IniFile ini = IniFile::Parse(ToAnsiBytes("[JKBN_Z_J]\n01=受注\n02=出荷\n[X]\n03=no\n"));
    EXPECT_EQ(ini.Section("jkbn_z_j"),
              (std::vector<std::pair<std::string, std::string>>{{"01", "受注"}, {"02", "出荷"}}));
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
