// How the program learns its environment: EDI.ini read value by value, the settings taken from
// it, and the machine and user it runs as.
#include <gtest/gtest.h>
#include <unistd.h>

#include "IniFuzzTarget.h"
#include "startup/IniFile.h"
#include "startup/Settings.h"
#include "startup/SystemProfile.h"
#include "support/Masters.h"
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
        {"invalid Shift-JIS bytes", "[S]\nK=\xFF\x80z\n", "S", "K", 64, "\xEF\xBF\xBD\xEF\xBF\xBDz"},
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

TEST(IniFileTest, ListsASectionInFileOrderAndTakesTextBeforeANulOnlyWhereThereIsOne) {
    const IniFile ini = IniFile::Parse(ToAnsiBytes("[JKBN_Z_J]\n01=受注\n02=出荷\n[X]\n03=no\n"));
    EXPECT_EQ(ini.Section("jkbn_z_j"),
              (std::vector<std::pair<std::string, std::string>>{{"01", "受注"}, {"02", "出荷"}}));
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

// A good EDI.ini in a folder laid out as the program expects: DIR/EDI.ini beside DIR/edi/bin.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "edi" / "bin");
        work_.ProgramFolder = dir_ / "edi" / "bin";
    }
    void WriteIni(const std::string& text) { test::WriteSjisFile(dir_ / "EDI.ini", text); }

    test::TempDir dir_;
    WorkArea work_;
};

TEST(ConfigFolderTest, GoesTwoFolderLevelsUp) {
    // "" for "/edi/bin": the file is then /EDI.ini; none without a second-last separator.
    const std::pair<const char*, std::optional<std::string>> rows[] = {
        {"/app/edi/bin", "/app"}, {"/edi/bin", ""}, {"/bin", std::nullopt}, {"bin", std::nullopt}};
    for (const auto& [folder, config] : rows) EXPECT_EQ(ConfigFolderOf(folder), config) << folder;
}

TEST_F(SettingsTest, ReadsTheRunEnvironmentIntoFiftyCharacterFieldsFromTheFileItFinds) {
    WriteIni("[動作環境]\nMACHINENAME=端末1\nUSERID=edi\nPASSWD=secret\nDBSTRING=K500100\n");
    ASSERT_TRUE(ReadRunEnvironment(work_));
    EXPECT_EQ(work_.IniFolder, dir_.path().string());
    EXPECT_EQ(work_.DbUser, "edi" + std::string(47, ' '));
    EXPECT_EQ(work_.DbSource, "K500100" + std::string(43, ' '));
    EXPECT_EQ(work_.MachineName, "端末1" + std::string(47, ' ')) << "padding counts characters";

    // A missing file reads as empty and an underivable folder fails (see the start-up's failing
    // steps); the override names the file, whatever the program's folder.
    work_.ProgramFolder = "/bin";
    EXPECT_FALSE(ReadSettings(work_));
    test::WriteSjisFile(dir_ / "edi" / "other.ini", "[動作環境]\nUSERID=override\n");
    work_.IniOverride = dir_ / "edi" / "other.ini";
    ASSERT_TRUE(ReadRunEnvironment(work_));
    EXPECT_EQ(TrimBlanks(work_.DbUser), "override");
    EXPECT_EQ(work_.IniFolder, (dir_ / "edi").string());
}

TEST_F(SettingsTest, ReadsEverySettingWithItsConversion) {
    std::string text = test::SettingsIniText() + "errlogpath = /var/log/k500100\n[デバッグ]\nMODE=1\n";
    text.replace(text.find("EDIINFIL=/data/in/"), 18, "EDIINFIL=" + std::string(300, 'p'));
    WriteIni(text);
    ASSERT_TRUE(ReadSettings(work_));
    EXPECT_EQ(work_.Appearance.Label.BackColor, 255) << "&HFF";
    EXPECT_EQ(work_.Appearance.TextFocusColor, 12.5) << "blanks around a decimal";
    EXPECT_EQ(work_.Appearance.Title.ForeColor, 255) << "+255";
    EXPECT_EQ(work_.Appearance.Text.FontName, "Noto Sans Mono CJK JP");
    EXPECT_EQ(work_.EDIINFIL, std::string(255, 'p')) << "a long folder value is cut to 255 bytes";
    EXPECT_EQ(work_.Log.file, std::filesystem::path("/var/log/k500100/ERR.LOG"));
    EXPECT_TRUE(work_.DebugMode);
}

// Without ERRLOGPATH the log stays in the program's folder.
TEST_F(SettingsTest, DebugModeOnlyForExactlyOneAndTheLogStaysWithoutItsPath) {
    work_.Log.file = work_.ProgramFolder / "ERR.LOG";
    for (const char* mode : {"[デバッグ]\nMODE=01\n", "[デバッグ]\nMODE=1x\n", "[デバッグ]\nMODE=0\n",
                             "[デバッグ]\nMODE=\n", "[デバッグ]\nMODE=true\n", "[デバッグ]\n"}) {
        SCOPED_TRACE(mode);
        WriteIni(test::SettingsIniText() + mode);
        work_.DebugMode = true;
        ASSERT_TRUE(ReadSettings(work_));
        EXPECT_FALSE(work_.DebugMode);
        EXPECT_EQ(work_.Log.file, work_.ProgramFolder / "ERR.LOG");
    }
}

TEST_F(SettingsTest, FailsAsAWholeOnTheFirstBadValue) {
    struct Row {
        const char* name;
        std::string from;
        std::string to;
    };
    const std::string good = test::SettingsIniText();
    const Row rows[] = {
        {"no Setting0 section", "[Setting0]", "[Other]"},
        {"colour not a number", "LabelForeColor=0", "LabelForeColor=black"},
        {"16-bit value out of range", "MINIMAIZE=0", "MINIMAIZE=32767.5"},
        {"16-bit value missing", "DEMOMODE=0\n", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::string text = good;
        text.replace(text.find(r.from), r.from.size(), r.to);
        WriteIni(text);
        work_.EDIINFIL = "unchanged";
        EXPECT_FALSE(ReadSettings(work_));
        EXPECT_EQ(work_.EDIINFIL, "unchanged") << "values read before the failure are not used";
    }
}

TEST(NumberConversionTest, StrictNumbers) {
    const std::pair<const char*, double> numbers[] = {{"&HFF", 255},
                                                      {"&hff", 255},
                                                      {" 12.5 ", 12.5},
                                                      {"-3", -3},
                                                      {"+.5", 0.5},
                                                      {"7.", 7},
                                                      {"&HFFFFFFFF", 4294967295.0}};
    for (const auto& [text, value] : numbers) EXPECT_EQ(StrictNumber(text), value) << text;
    for (const char* text : {"", "  ", "1x", "&H", "&HFG", "1 2", "-", ".", "&H123456789"}) {
        EXPECT_EQ(StrictNumber(text), std::nullopt) << text;
    }
}

TEST(NumberConversionTest, SixteenBitValuesRoundHalvesToEven) {
    const std::pair<const char*, std::int16_t> numbers[] = {
        {"-32768.5", -32768}, {"32767.4", 32767}, {"2.5", 2}, {"3.5", 4}, {"-2.5", -2}, {"&H7FFF", 32767}};
    for (const auto& [text, value] : numbers) EXPECT_EQ(StrictInt16(text), value) << text;
    for (const char* text : {"32767.5", "-32769", "&H8000", "abc"}) EXPECT_EQ(StrictInt16(text), std::nullopt) << text;
}

TEST(NumberConversionTest, LenientNumbersTakeTheLongestPrefix) {
    // No hexadecimal in the lenient conversion.
    const std::pair<const char*, double> rows[] = {
        {"255abc", 255}, {"abc", 0}, {"  -12.5x", -12.5}, {"", 0}, {"&HFF", 0}};
    for (const auto& [text, value] : rows) EXPECT_EQ(LenientNumber(text), value) << text;
}

TEST(SystemProfileTest, NamesThisMachineAndUser) {
    const cProfile profile;
    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(profile.machine(), host);
    EXPECT_FALSE(profile.User().empty());
    EXPECT_NE(profile.Domain(), "(none)") << "an unset domain reads as empty";
}

TEST(SystemProfileTest, ShowErrorFillsAnEmptyCaption) {
    const cProfile profile;
    test::RecordedMessageBoxes boxes;
    std::string caption;
    const MessageAnswer answer = profile.ShowError({5, "App", "Access denied"}, caption, boxes);
    EXPECT_EQ(answer, MessageAnswer::kOk);
    EXPECT_EQ(caption, "System Error Reported By App");
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, "Error Code 5\r\nAccess denied");
    EXPECT_EQ(boxes.shown()[0].icon, MessageIcon::kCritical);

    std::string given = "Mine";
    profile.ShowError({7, "App", "x"}, given, boxes);
    EXPECT_EQ(given, "Mine");
    EXPECT_EQ(boxes.shown()[1].caption, "Mine");
}

}  // namespace
}  // namespace edi
