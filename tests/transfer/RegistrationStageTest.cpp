#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "JobFixture.h"
#include "transfer/JobSeams.h"

namespace edi {
namespace {

namespace fs = std::filesystem;
using test::JobTest;

TEST(StatusLineTest, CutsTheFirstLineByCharacterColumns) {
    struct Case {
        const char* line;
        const char* kind;
        const char* company;
        int read;  // -1: not a number
        int written;
        const char* end_code;
        bool success;
    };
    const Case cases[] = {
        {"1KIND123456789012000010000009"
         "00",
         "KIND", "123456789012", 10, 9, "00", true},
        {"1KIND123456789012000010000009"
         "01",
         "KIND", "123456789012", 10, 9, "01", false},
        {"1KIND123456789012000010000009"
         "  ",
         "KIND", "123456789012", 10, 9, "  ", true},
        {"1KIND123456789012000010000009", "KIND", "123456789012", 10, 9, "  ", true},
        {"1ｶﾅ区分ＡＢＣ企業コード1234"
         "    12"
         "     7"
         "00",
         "ｶﾅ区分", "ＡＢＣ企業コード1234", 12, 7, "00", true},
        {"1KIND12345678901200001X000009"
         "00",
         "KIND", "123456789012", -1, 9, "00", true},
        {"1KIND123456789012000010000009"
         "XX",
         "KIND", "123456789012", 10, 9, "XX", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const StatusLine s = ParseStatusLine(c.line);
        EXPECT_EQ(s.取引情報区分, c.kind);
        EXPECT_EQ(s.相手先企業コード, c.company);
        EXPECT_EQ(s.入力レコード数.value_or(-1), c.read);
        EXPECT_EQ(s.出力レコード数.value_or(-1), c.written);
        EXPECT_EQ(s.終了コード, c.end_code);
        EXPECT_EQ(s.success, c.success);
    }
}

TEST(JkbnSectionTest, EntriesEndAtEmptyLineBackslashOrBufferEnd) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> entries;
    };
    const std::string ten(20, 'K');  // 21 bytes with its NUL: ten of them fill 210 of 224
    std::string many;
    for (int i = 0; i < 11; ++i) many += ten + "\n";
    const Case cases[] = {
        {"backslash ends", "01\n\\\n02\n", {"01"}},
        {"backslash with blanks ends", "01\n  \\  \n02\n", {"01"}},
        {"empty line ends", "01\r\n\r\n02\r\n", {"01"}},
        {"whole lines", "01\nA=B\n 03 \n", {"01", "A=B", "03"}},
        {"buffer ends", many, std::vector<std::string>(10, ten)},
        {"nothing", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(JkbnEntriesOf(c.text), c.entries);
    }
}

TEST(CommandLineTest, SplitsAsAShellWould) {
    struct Case {
        const char* line;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"edireg @/tmp/p.ini", {"edireg", "@/tmp/p.ini"}},
        {"  'my reg' \"a b\"  c\\ d @x", {"my reg", "a b", "c d", "@x"}},
        {"prog \"q\\\"x\" ''", {"prog", "q\"x", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> words;
        EXPECT_TRUE(SplitCommandLine(c.line, words));
        EXPECT_EQ(words, c.words);
    }
    std::vector<std::string> words;
    EXPECT_FALSE(SplitCommandLine("prog 'open", words));
}

TEST_F(JobTest, ParameterFileHoldsTheExampleLinesInShiftJisWithCrLf) {
    WriteIni("01\r\n02\r\n");
    Partner("ABC", "123456789012");
    Partner("ABC", "999999999999");
    Exec("INSERT INTO FL1102処理履歴ファイル (通番, 枝番) VALUES (11, 0)");
    const int serial = OpenJob("ABC");
    ASSERT_EQ(serial, 12);
    std::string result;
    runner_->RunRegistrationStage("ABC", serial, result);
    EXPECT_EQ(result, "0000");
    ASSERT_EQ(starter_.commands.size(), 1u);
    EXPECT_EQ(starter_.commands[0], "register --now @" + Folder("pr") + "EDI00000012.INI");
    EXPECT_EQ(test::ReadText(Folder("pr") + "EDI00000012.INI"),
              "/[EDI]01TXT='%EDI_IN%00000012_RCV_ABC_________01.LOC'\r\n"
              "/[EDI]02TXT='%EDI_IN%00000012_RCV_ABC_________02.LOC'\r\n"
              "/[EDI]OPERATOR='0001'\r\n"
              "/[EDI]STATUS_FILE='M:/ST/00000012_Z_IN_STATUS.TXT'\r\n"
              "/[EDI]MAKER='123456789012'\r\n");
    EXPECT_EQ(HistoryValue(12, 1, "処理種別"), "41");
    EXPECT_EQ(HistoryValue(12, 1, "取引情報区分"), "KIND");
    EXPECT_EQ(HistoryValue(12, 1, "相手先企業コード"), "123456789012");
    EXPECT_EQ(HistoryValue(12, 1, "入力レコード数"), "10");
    EXPECT_EQ(HistoryValue(12, 1, "出力レコード数"), "9");
    EXPECT_EQ(HistoryValue(12, 1, "終了コード"), "00");
    EXPECT_EQ(HistoryValue(12, 1, "ファイル名"), "F:/HIST/00000012_RCV_ABC_________KIND.TXT");
}

TEST_F(JobTest, RegistrationStageRecordsHowTheProgramEnded) {
    struct Case {
        const char* name;
        std::string jkbn;
        std::function<bool(const std::string&)> program;  // nothing: the status answer below
        const char* status;
        const char* end_code;
        const char* detail_code;
        std::size_t commands;
    };
    const Case cases[] = {
        {"status 01", "01\r\n", nullptr,
         "1KIND123456789012000010000009"
         "01",
         "9999", "0000", 1},
        {"status blank", "01\r\n", nullptr, "1KIND123456789012000010000009", "  ", "0000", 1},
        {"counts not numbers", "01\r\n", nullptr,
         "1KIND123456789012ABCDEF000009"
         "00",
         "9999", "0000", 1},
        {"cannot start", "01\r\n", [](const std::string&) { return false; }, "", "4100", "0002", 1},
        {"no status file", "01\r\n", [](const std::string&) { return true; }, "", "4100", "0002", 1},
        {"no information kind", "\\\r\n", nullptr,
         "1KIND123456789012000010000009"
         "00",
         "9999", "9999", 0},
    };
    Partner("ABC", "123456789012");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteIni(c.jkbn);
        starter_.commands.clear();
        StatusAnswer(c.status);
        if (c.program) starter_.action = c.program;
        const int serial = OpenJob("ABC");
        std::string result;
        runner_->RunRegistrationStage("ABC", serial, result);
        EXPECT_EQ(result, "0000");
        EXPECT_EQ(starter_.commands.size(), c.commands);
        EXPECT_EQ(HistoryValue(serial, 1, "終了コード"), c.end_code);
        EXPECT_EQ(HistoryValue(serial, 1, "詳細コード"), c.detail_code);
    }
}

TEST_F(JobTest, UnreadableStatusLineClosesTheRowWith9999) {
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"NUL in the kind", std::string("1KI\0D123456789012000010000009", 29) + "00\r\n"},
        {"NUL first", std::string("\0", 1) + "KIND123456789012000010000009" + "00\r\n"},
        {"bytes that are no text", "1\xFF\xFE\x80\xA0\x81\x7F\xFD\xFC\x82\x20\xEF\xF0\x9F\x98\x80\x01"
                                   "000010000009" "00\r\n"},
    };
    Partner("ABC", "123456789012");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int serial = OpenJob("ABC");
        starter_.action = [&](const std::string&) {
            test::WriteFile(Folder("st") + test::SerialPartOf(serial) + "_Z_IN_STATUS.TXT", std::string_view(c.bytes));
            return true;
        };
        std::string result;
        runner_->RunRegistrationStage("ABC", serial, result);
        EXPECT_EQ(result, "0000");
        EXPECT_EQ(HistoryValue(serial, 1, "終了コード"), "9999");
        EXPECT_NE(HistoryValue(serial, 1, "処理終了日付"), "<null>");
        EXPECT_EQ(HistoryValue(serial, 1, "取引情報区分"), " ");
    }
}

TEST_F(JobTest, ProgramThatCannotBeStartedGives4100With0001WhenAStatusFileIsThere) {
    Partner("ABC", "123456789012");
    const int serial = OpenJob("ABC");
    test::WriteFile(Folder("st") + test::SerialPartOf(serial) + "_Z_IN_STATUS.TXT", std::string_view("x"));
    starter_.action = [](const std::string&) { return false; };
    std::string result;
    runner_->RunRegistrationStage("ABC", serial, result);
    EXPECT_EQ(HistoryValue(serial, 1, "終了コード"), "4100");
    EXPECT_EQ(HistoryValue(serial, 1, "詳細コード"), "0001");
}

TEST_F(JobTest, CenterWithoutPartnerCompanyRegistersNothingAndRecordsNothing) {
    const int serial = OpenJob("ABC");
    std::string result = "x";
    runner_->RunRegistrationStage("ABC", serial, result);
    EXPECT_EQ(result, "0000");
    EXPECT_TRUE(starter_.commands.empty());
    EXPECT_EQ(History(serial).size(), 1u);
    std::string end_code, detail_code;
    runner_->LoadPartnerCompanies("ABC", end_code, detail_code);
    EXPECT_EQ(end_code + "/" + detail_code, "7300/0001");
}

TEST_F(JobTest, RealProgramStartedThroughTheShellSplitCommandLine) {
    SpawnProcessStarter spawn;
    const fs::path out = dir_ / "ran here";
    const fs::path marker = dir_ / "started";
    // Its own process group, /dev/null for input, its output on the runner's error stream.
    EXPECT_TRUE(spawn.RunAndWait("sh -c 'echo \"$0\" > \"$1\"; cut -d\" \" -f5 /proc/$$/stat >> \"$1\"; "
                                 "readlink /proc/$$/fd/0 >> \"$1\"; echo to-stdout' '" +
                                     out.string() + "' '" + out.string() + "'",
                                 marker.string()));
    const std::string text = test::ReadText(out);
    const std::string first = out.string() + "\n";
    ASSERT_EQ(text.substr(0, first.size()), first);
    const std::string group = text.substr(first.size(), text.find('\n', first.size()) - first.size());
    EXPECT_NE(group, std::to_string(::getpgrp()));
    EXPECT_EQ(text.substr(text.find('\n', first.size()) + 1), "/dev/null\n");
    EXPECT_TRUE(fs::exists(marker));
    EXPECT_FALSE(spawn.RunAndWait((dir_ / "no-such-program").string() + " @x", ""));
    EXPECT_FALSE(spawn.RunAndWait("   ", ""));
}

}  // namespace
}  // namespace edi
