#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "DemoOrders.h"
#include "JobFixture.h"
#include "convert/LocalCiiConversion.h"
#include "startup/SqlScript.h"
#include "transfer/JobSeams.h"
#include "transfer/ProgramConverters.h"

namespace edi {
namespace {

namespace fs = std::filesystem;
using test::JobTest;

TEST(StatusLineTest, CutsTheFirstLineByCharacterColumns) {
    const struct {
        const char* line;
        const char* kind;
        const char* company;
        int read;  // -1: not a number
        int written;
        const char* end_code;
        bool success;
    } cases[] = {
        {"1KIND12345678901200001000000900", "KIND", "123456789012", 10, 9, "00", true},
        {"1KIND123456789012000010000009", "KIND", "123456789012", 10, 9, "  ", true},
        {"1ｶﾅ区分ＡＢＣ企業コード1234    12     700", "ｶﾅ区分", "ＡＢＣ企業コード1234", 12, 7, "00", true},
        {"1KIND12345678901200001X00000900", "KIND", "123456789012", -1, 9, "00", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const StatusLine s = ParseStatusLine(c.line);
        EXPECT_EQ(std::tuple(s.取引情報区分, s.相手先企業コード, s.入力レコード数.value_or(-1),
                             s.出力レコード数.value_or(-1), s.終了コード, s.success),
                  std::tuple(std::string(c.kind), std::string(c.company), c.read, c.written, std::string(c.end_code),
                             c.success));
    }
}

TEST(JkbnSectionTest, EntriesEndAtEmptyLineBackslashOrBufferEnd) {
    const std::string ten(20, 'K');  // 21 bytes with its NUL: ten of them fill 210 of 224
    std::string many;
    for (int i = 0; i < 11; ++i) many += ten + "\n";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"01\n\\\n02\n", {"01"}},
        {"01\n  \\  \n02\n", {"01"}},
        {"01\r\n\r\n02\r\n", {"01"}},
        {"01\nA=B\n 03 \n", {"01", "A=B", "03"}},
        {many, {10, ten}},
        {"", {}},
    };
    for (const auto& [text, entries] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(JkbnEntriesOf(text), entries);
    }
}

TEST(CommandLineTest, SplitsAsAShellWould) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"edireg @/tmp/p.ini", {"edireg", "@/tmp/p.ini"}},
        {"  'my reg' \"a b\"  c\\ d @x", {"my reg", "a b", "c d", "@x"}},
        {"prog \"q\\\"x\" ''", {"prog", "q\"x", ""}},
    };
    for (const auto& [line, expected] : cases) {
        std::vector<std::string> words;
        EXPECT_TRUE(SplitCommandLine(line, words));
        EXPECT_EQ(words, expected);
    }
    std::vector<std::string> words;
    EXPECT_FALSE(SplitCommandLine("prog 'open", words));
}

TEST_F(JobTest, ParameterFileHoldsTheExampleLinesInShiftJisWithCrLf) {
    WriteIni({"01", "02"});
    Partner("ABC", "123456789012");
    Partner("ABC", "999999999999");
    Exec(test::HistorySql({{.serial = 11}}));
    const int serial = OpenJob("ABC");
    ASSERT_EQ(serial, 12);
    std::string result;
    runner_->RunRegistrationStage("ABC", serial, result);
    EXPECT_EQ(result, "0000");
    EXPECT_EQ(starter_.commands, std::vector<std::string>{"register --now @" + Folder("pr") + "EDI00000012.INI"});
    EXPECT_EQ(test::ReadText(Folder("pr") + "EDI00000012.INI"),
              "/[EDI]01TXT='%EDI_IN%00000012_RCV_ABC_________01.LOC'\r\n"
              "/[EDI]02TXT='%EDI_IN%00000012_RCV_ABC_________02.LOC'\r\n"
              "/[EDI]OPERATOR='0001'\r\n"
              "/[EDI]STATUS_FILE='M:/ST/00000012_Z_IN_STATUS.TXT'\r\n"
              "/[EDI]MAKER='123456789012'\r\n");
    EXPECT_EQ(HistoryValues(12, 1,
                            {"処理種別", "取引情報区分", "相手先企業コード", "入力レコード数", "出力レコード数",
                             "終了コード", "ファイル名"}),
              "41 KIND 123456789012 10 9 00 F:/HIST/00000012_RCV_ABC_________KIND.TXT");
}

// How the program ended, from what it left in the status file (raw bytes; none when empty).
TEST_F(JobTest, RegistrationStageRecordsHowTheProgramEnded) {
    const struct {
        const char* name;
        const char* jkbn;
        bool starts;         // the program could be started
        bool status_before;  // a status file was there before the start
        std::string status;  // what the program writes
        const char* row;     // 終了コード 詳細コード 取引情報区分 of the registration row
        std::size_t commands;
    } cases[] = {
        {"status 01", "01", true, false, "1KIND12345678901200001000000901\r\n", "9999 0000  ", 1},
        {"status blank", "01", true, false, "1KIND123456789012000010000009\r\n", "   0000 KIND", 1},
        {"counts not numbers", "01", true, false, "1KIND123456789012ABCDEF00000900\r\n", "9999 0000  ", 1},
        {"cannot start", "01", false, false, "", "4100 0002  ", 1},
        {"cannot start, an older status file there", "01", false, true, "", "4100 0001  ", 1},
        {"no status file", "01", true, false, "", "4100 0002  ", 1},
        {"no information kind", "\\", true, false, "1KIND12345678901200001000000900\r\n", "9999 9999  ", 0},
        {"NUL in kind", "01", true, false, std::string("1KI\0D12345678901200001000000900\r\n", 33), "9999 0000  ", 1},
        {"NUL first", "01", true, false, std::string("\0KIND12345678901200001000000900\r\n", 33), "9999 0000  ", 1},
        {"bytes that are no text", "01", true, false,
         "1\xFF\xFE\x80\xA0\x81\x7F\xFD\xFC\x82\x20\xEF\xF0\x9F\x98\x80\x01"
         "00001000000900\r\n",
         "9999 0000  ", 1},
    };
    Partner("ABC", "123456789012");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteIni({c.jkbn});
        starter_.commands.clear();
        const int serial = OpenJob("ABC");
        const fs::path status = Folder("st") + test::SerialPartOf(serial) + "_Z_IN_STATUS.TXT";
        if (c.status_before) test::WriteFile(status, std::string_view("x"));
        starter_.action = [&](const std::string&) {
            if (!c.status.empty()) test::WriteFile(status, std::string_view(c.status));
            return c.starts;
        };
        std::string result;
        runner_->RunRegistrationStage("ABC", serial, result);
        EXPECT_EQ(result, "0000");
        EXPECT_EQ(starter_.commands.size(), c.commands);
        EXPECT_EQ(HistoryValues(serial, 1, {"終了コード", "詳細コード", "取引情報区分"}), c.row);
        EXPECT_NE(HistoryValue(serial, 1, "処理終了日付"), "<null>");
        fs::remove(status);
    }
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
    EXPECT_TRUE(
        spawn.RunAndWait("sh -c 'echo \"$0\" > \"$1\"; cut -d\" \" -f5 /proc/$$/stat >> \"$1\"; "
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

// The sample registration program reads what the stage writes and answers what the stage reads.
TEST(SampleRegistrationTest, CountsTheLocalFilesAndWritesTheStatusLine) {
    for (const bool second_file : {true, false}) {
        SCOPED_TRACE(second_file ? "both files" : "second file missing");
        test::TempDir dir;
        fs::create_directories(dir / "in");
        test::WriteFile(dir / "in" / "00000012_RCV_ABC_________0130.LOC", std::string_view("a\r\nb\r\nc\r\n"));
        if (second_file) test::WriteFile(dir / "in" / "00000012_RCV_ABC_________0131.LOC", std::string_view("d\r\ne"));
        const std::string status = (dir / "00000012_Z_IN_STATUS.TXT").string();
        test::WriteSjisFile(dir / "EDI00000012.INI",
                            "/[EDI]0130TXT='%EDI_IN%00000012_RCV_ABC_________0130.LOC'\r\n"
                            "/[EDI]0131TXT='%EDI_IN%00000012_RCV_ABC_________0131.LOC'\r\n"
                            "/[EDI]OPERATOR='担当01'\r\n/[EDI]STATUS_FILE='" +
                                status + "'\r\n/[EDI]MAKER='PARTNER01'\r\n");
        // The starter gives the program EDI_IN, the receive folder, for %EDI_IN%.
        const std::string in = (dir / "in").string();
        ASSERT_TRUE(SpawnProcessStarter(in).RunAndWait(K500100_EDIREG " @" + (dir / "EDI00000012.INI").string(), ""));
        EXPECT_EQ(test::ReadText(status),
                  second_file ? "10130PARTNER01   00000500000500\r\n" : "10130PARTNER01   00000300000001\r\n");
    }
}

// A received CII file as a job meets it, with the program's converters on the demo masters and
// a registration program that notes the order number of every record it is handed: test groups
// are held back, a damaged file never reaches registration.

// Order numbers in the records of a local file (columns 64-76), in file order.
std::vector<std::string> OrderNumbers(const fs::path& local) {
    std::vector<std::string> ids;
    std::ifstream in(local, std::ios::binary);
    for (std::string line; std::getline(in, line);) ids.push_back(line.substr(63, 13));
    return ids;
}

class ReceivedCiiTest : public test::JobTest {
protected:
    void SetUp() override {
        test::JobTest::SetUp();
        std::ifstream masters(K500100_DEMO_MASTERS, std::ios::binary);
        const std::string script((std::istreambuf_iterator<char>(masters)), std::istreambuf_iterator<char>());
        std::string error;
        ASSERT_TRUE(RunSqlScript(work_, script, error)) << error;
        Center("CIILINK", "Z", Folder("link") + "CIILINK.CII", "C");
        AddRow("CIILINK");
        runner_ =
            std::make_unique<JobRunner>(work_, clock_, boxes_, progress_, display_, program_converters_, starter_);
        // The registration program: every local file the parameter file names, then its status line.
        starter_.action = [this](const std::string& command) {
            std::ifstream parameters(command.substr(command.find(" @") + 2), std::ios::binary);
            for (std::string line; std::getline(parameters, line);) {
                const std::size_t at = line.find("TXT='%EDI_IN%");
                if (at == std::string::npos) continue;
                const std::string name = line.substr(at + 13, line.rfind('\'') - at - 13);
                for (const std::string& id : OrderNumbers(Folder("in") + name)) registered_.push_back(id);
            }
            char status[64];
            std::snprintf(status, sizeof status, "10130PARTNER01   %06zu%06zu00", registered_.size(),
                          registered_.size());
            const std::string serial = command.substr(command.size() - 12, 8);
            test::WriteFile(dir_ / "st" / (serial + "_Z_IN_STATUS.TXT"), std::string_view(status));
            return true;
        };
    }

    // One group of the demo's order message; a test group carries 運用モード "1".
    std::string Group(const std::vector<std::string>& ids, bool test_data) {
        std::string local;
        for (std::size_t i = 0; i < ids.size(); ++i) local += bench::DemoOrderRecord(static_cast<int>(i), ids[i]);
        test::WriteFile(dir_ / "group.txt", std::string_view(local));
        fs::remove(dir_ / "group.CII");
        std::string result;
        RunLocalCiiConversion(work_, "", 1, kLocalToCii, dir_ / "group.txt", dir_ / "group.CII", result);
        EXPECT_EQ(result, "0000");
        std::string cii = test::ReadText(dir_ / "group.CII");
        if (test_data) cii[2] = '1';
        return cii;
    }

    ProgramConverters program_converters_;
    std::vector<std::string> registered_;
};

TEST_F(ReceivedCiiTest, TestGroupsAreHeldBackAndADamagedFileNeverReachesRegistration) {
    const std::string production = Group({"PO00000000001", "PO00000000002"}, false);
    const std::string test_data = Group({"PT00000000001"}, true);
    std::string miscounted = production;
    miscounted[miscounted.size() - 249 + 4] = '3';  // the end record counts 3 messages
    const std::string both = production + test_data;
    const std::string cut = both.substr(0, both.size() - 100);
    const std::map<char, std::vector<std::string>> groups = {{'P', {"PO00000000001", "PO00000000002"}},
                                                             {'T', {"PT00000000001"}}};
    struct Row {
        const char* name;
        std::string settings;  // section CIICHECK
        std::string message;
        std::string job;         // the job row's 終了コード
        std::string conversion;  // the CII row: 終了コード 詳細コード 入力レコード数 出力レコード数
        std::string registered;  // groups: P production, T test
        std::string held_back;   // groups in the test-data file
        std::string log;         // ERR.LOG lines of codes 52xx, without their texts
    };
    const Row rows[] = {
        {"production and test", "", both, "0000", "0000 5210 3 2", "P", "T", "5210"},
        {"test only", "", test_data, "0000", "0000 5210 1 0", "", "T", "5210"},
        {"test registered", "RegisterTestData=1", both, "0000", "0000 5211 3 3", "PT", "", "5211"},
        {"cut inside the last end record", "", cut, "5200", "5200 5202 3 0", "", "", "5202"},
        {"a wrong count", "", miscounted, "5200", "5200 5205 2 0", "", "", "5205"},
        {"a wrong count the site lets pass", "WarnCount=1", miscounted, "0000", "0000 0000 0 0", "P", "", "5205"},
    };
    const auto ids = [&](const std::string& letters) {
        std::vector<std::string> all;
        for (const char letter : letters) all.insert(all.end(), groups.at(letter).begin(), groups.at(letter).end());
        return all;
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        WriteIni({"0130"}, {{"CIICHECK", {r.settings}}});
        fs::remove(dir_ / "ERR.LOG");
        registered_.clear();
        test::WriteFile(Folder("link") + "CIILINK.CII", std::string_view(r.message));
        work_.CurrentRow = 0;
        runner_->RunJob();
        const int serial = runner_->serial();
        const std::string received = Folder("in") + test::SerialPartOf(serial) + "_RCV_CIILINK_____";

        EXPECT_EQ(HistoryValue(serial, 0, "終了コード"), r.job);
        // The runner's error line names the fault's code beside the job's.
        const std::string outcome =
            r.job == "0000" ? "0000 ended well" : "5200/" + r.conversion.substr(5, 4) + " the received";
        EXPECT_EQ(OutcomeText(runner_->outcome()).substr(0, outcome.size()), outcome);
        EXPECT_EQ(
            HistoryValues(serial, 2, {"処理種別", "終了コード", "詳細コード", "入力レコード数", "出力レコード数"}),
            "31 " + r.conversion);
        // A file that failed its check is not converted and stays for a carry-on.
        EXPECT_EQ(HistoryValue(serial, 3, "処理種別"), r.job == "0000" ? "41" : "<none>");
        EXPECT_EQ(fs::exists(received + ".CII"), true);
        EXPECT_EQ(fs::exists(received + "0130.LOC"), r.job == "0000");
        EXPECT_EQ(registered_, ids(r.registered));
        EXPECT_EQ(OrderNumbers(received + "0130.TST"), ids(r.held_back));
        std::string codes;
        std::ifstream log(dir_ / "ERR.LOG");
        for (std::string line; std::getline(log, line);) {
            if (line.starts_with("52")) codes += (codes.empty() ? "" : " ") + line.substr(0, 4);
        }
        EXPECT_EQ(codes, r.log);
    }
}

}  // namespace
}  // namespace edi
