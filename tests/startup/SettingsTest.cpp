#include <gtest/gtest.h>

#include "startup/Settings.h"
#include "support/Masters.h"
#include "support/TestSupport.h"

namespace edi {
namespace {

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

TEST_F(SettingsTest, ReadsTheRunEnvironmentIntoFiftyCharacterFields) {
    WriteIni("[動作環境]\nMACHINENAME=端末1\nUSERID=edi\nPASSWD=secret\nDBSTRING=K500100\n");
    ASSERT_TRUE(ReadRunEnvironment(work_));
    EXPECT_EQ(work_.IniFolder, dir_.path().string());
    EXPECT_EQ(work_.DbUser, "edi" + std::string(47, ' '));
    EXPECT_EQ(work_.DbSource, "K500100" + std::string(43, ' '));
    EXPECT_EQ(work_.MachineName, "端末1" + std::string(47, ' ')) << "padding counts characters";
}

// A missing file reads as empty and an underivable folder fails: see the start-up's failing steps.
TEST_F(SettingsTest, AnUnderivableFolderFailsAndTheOverrideNamesTheFile) {
    work_.ProgramFolder = "/bin";
    EXPECT_FALSE(ReadSettings(work_));
    test::WriteSjisFile(dir_ / "other.ini", "[動作環境]\nUSERID=override\n");
    work_.IniOverride = dir_ / "other.ini";
    ASSERT_TRUE(ReadRunEnvironment(work_));
    EXPECT_EQ(TrimBlanks(work_.DbUser), "override");
    EXPECT_EQ(work_.IniFolder, dir_.path().string());
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

}  // namespace
}  // namespace edi
