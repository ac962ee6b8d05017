#include <unistd.h>

#include <map>
#include <tuple>

#include "DemoOrderMessages.h"
#include "JobFixture.h"
#include "startup/SqlScript.h"
#include "transfer/JobSeams.h"
#include "transfer/ProgramConverters.h"

namespace edi {
namespace {

namespace fs = std::filesystem;
using test::JobTest;

// What the stage reads and writes as text: the status line is cut by character columns, the
// information kinds end at an empty line, a backslash or the buffer's end, and the command line
// splits as a shell would.
TEST(RegistrationTextsTest, StatusLineInformationKindsAndCommandLine) {
    // What a status line gives: kind, company, records read (-1: not a number), records written, end code, success.
    using Read = std::tuple<std::string, std::string, int, int, std::string, bool>;
    const std::pair<const char*, Read> cases[] = {
        {"1KIND12345678901200001000000900", {"KIND", "123456789012", 10, 9, "00", true}},
        {"1KIND123456789012000010000009", {"KIND", "123456789012", 10, 9, "  ", true}},
        {"1ｶﾅ区分ＡＢＣ企業コード1234    12     700", {"ｶﾅ区分", "ＡＢＣ企業コード1234", 12, 7, "00", true}},
        {"1KIND12345678901200001X00000900", {"KIND", "123456789012", -1, 9, "00", true}},
    };
    for (const auto& [line, read] : cases) {
        const StatusLine s = ParseStatusLine(line);
        EXPECT_EQ(Read(s.取引情報区分, s.相手先企業コード, s.入力レコード数.value_or(-1), s.出力レコード数.value_or(-1),
                       s.終了コード, s.success),
                  read)
            << line;
    }

    const std::string ten(20, 'K');  // 21 bytes with its NUL: ten of them fill 210 of 224
    std::string many;
    for (int i = 0; i < 11; ++i) many += ten + "\n";
    const std::pair<std::string, std::vector<std::string>> sections[] = {
        {"01\n\\\n02\n", {"01"}},
        {"01\n  \\  \n02\n", {"01"}},
        {"01\r\n\r\n02\r\n", {"01"}},
        {"01\nA=B\n 03 \n", {"01", "A=B", "03"}},
        {many, {10, ten}},
        {"", {}},
    };
    for (const auto& [text, entries] : sections) EXPECT_EQ(JkbnEntriesOf(text), entries) << text;

    const std::pair<const char*, std::vector<std::string>> command_lines[] = {
        {"edireg @/tmp/p.ini", {"edireg", "@/tmp/p.ini"}},
        {"  'my reg' \"a b\"  c\\ d @x", {"my reg", "a b", "c d", "@x"}},
        {"prog \"q\\\"x\" ''", {"prog", "q\"x", ""}},
    };
    for (const auto& [line, expected] : command_lines) {
        std::vector<std::string> words;
        EXPECT_TRUE(SplitCommandLine(line, words)) << line;
        EXPECT_EQ(words, expected) << line;
    }
    std::vector<std::string> words;
    EXPECT_FALSE(SplitCommandLine("prog 'open", words));
}

// A center without a partner company registers nothing and records nothing; with one, the
// parameter file holds the example lines.
TEST_F(JobTest, ParameterFileHoldsTheExampleLinesInShiftJisWithCrLf) {
    WriteIni({"01", "02"});
    Exec(test::HistorySql({{.serial = 10}}));
    std::string result = "x";
    runner_->RunRegistrationStage("ABC", OpenJob("ABC"), result);
    EXPECT_EQ(result, "0000");
    EXPECT_TRUE(starter_.commands.empty());
    EXPECT_EQ(History(11).size(), 1u);
    std::string end_code, detail_code;
    runner_->LoadPartnerCompanies("ABC", end_code, detail_code);
    EXPECT_EQ(end_code + "/" + detail_code, "7300/0001");

    Partner("ABC", "123456789012");
    Partner("ABC", "999999999999");
    const int serial = OpenJob("ABC");
    ASSERT_EQ(serial, 12);
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
    // The case; the information kinds; whether the program could be started; whether a status file
    // was there before the start; what the program writes; 終了コード 詳細コード 取引情報区分 of the
    // registration row; and how often the program is started.
    using Case = std::tuple<const char*, const char*, bool, bool, std::string, const char*, std::size_t>;
    const Case cases[] = {
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
    for (const auto& [name, jkbn, starts, status_before, written, row, commands] : cases) {
        SCOPED_TRACE(name);
        WriteIni({jkbn});
        starter_.commands.clear();
        const int serial = OpenJob("ABC");
        const fs::path status = Folder("st") + SerialPart(serial) + "_Z_IN_STATUS.TXT";
        if (status_before) test::WriteFile(status, std::string_view("x"));
        starter_.action = [&](const std::string&) {
            if (!written.empty()) test::WriteFile(status, std::string_view(written));
            return starts;
        };
        std::string result;
        runner_->RunRegistrationStage("ABC", serial, result);
        EXPECT_EQ(result, "0000");
        EXPECT_EQ(starter_.commands.size(), commands);
        EXPECT_EQ(HistoryValues(serial, 1, {"終了コード", "詳細コード", "取引情報区分"}), row);
        EXPECT_NE(HistoryValue(serial, 1, "処理終了日付"), "<null>");
        fs::remove(status);
    }
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
        std::string error;
        ASSERT_TRUE(RunSqlScript(work_, test::ReadText(K500100_DEMO_MASTERS), error)) << error;
        Center("CIILINK", "Z", Folder("link") + "CIILINK.CII", "C");
        AddRow("CIILINK");
        runner_ =
            std::make_unique<JobRunner>(work_, clock_, boxes_, progress_, display_, program_converters_, starter_);
        // The registration program notes every local file the parameter file names, then answers.
        starter_.action = [this, answer = starter_.action](const std::string& command) {
            std::ifstream parameters(command.substr(command.find(" @") + 2), std::ios::binary);
            for (std::string line; std::getline(parameters, line);) {
                const std::size_t at = line.find("TXT='%EDI_IN%");
                if (at == std::string::npos) continue;
                const std::string name = line.substr(at + 13, line.rfind('\'') - at - 13);
                for (const std::string& id : OrderNumbers(Folder("in") + name)) registered_.push_back(id);
            }
            return answer(command);
        };
    }

    ProgramConverters program_converters_;
    std::vector<std::string> registered_;
};

TEST_F(ReceivedCiiTest, TestGroupsAreHeldBackAndADamagedFileNeverReachesRegistration) {
    const std::string production = test::DemoOrdersCii(work_, dir_.path(), {"PO00000000001", "PO00000000002"});
    std::string test_data = test::DemoOrdersCii(work_, dir_.path(), {"PT00000000001"});
    test_data[2] = '1';  // a test group carries 運用モード "1"
    std::string miscounted = production;
    miscounted[miscounted.size() - 249 + 4] = '3';  // the end record counts 3 messages
    const std::string both = production + test_data;
    const std::string cut = both.substr(0, both.size() - 100);
    const std::map<char, std::vector<std::string>> groups = {{'P', {"PO00000000001", "PO00000000002"}},
                                                             {'T', {"PT00000000001"}}};
    // The case; section CIICHECK; the message; the job row's 終了コード; the CII row's 終了コード
    // 詳細コード 入力レコード数 出力レコード数; the groups registered and those in the test-data file
    // (P production, T test); and the ERR.LOG lines of codes 52xx, without their texts.
    using Row = std::tuple<const char*, std::string, std::string, std::string, std::string, std::string, std::string,
                           std::string>;
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
    for (const auto& [name, settings, message, job, conversion, registered, held_back, log_codes] : rows) {
        SCOPED_TRACE(name);
        WriteIni({"0130"}, {{"CIICHECK", {settings}}});
        fs::remove(dir_ / "ERR.LOG");
        registered_.clear();
        test::WriteFile(Folder("link") + "CIILINK.CII", std::string_view(message));
        work_.CurrentRow = 0;
        runner_->RunJob();
        const int serial = runner_->serial();
        const std::string received = Folder("in") + SerialPart(serial) + "_RCV_CIILINK_____";

        EXPECT_EQ(HistoryValue(serial, 0, "終了コード"), job);
        // The runner's error line names the fault's code beside the job's.
        const std::string outcome =
            job == "0000" ? "0000 ended well" : "5200/" + conversion.substr(5, 4) + " the received";
        EXPECT_EQ(OutcomeText(runner_->outcome()).substr(0, outcome.size()), outcome);
        EXPECT_EQ(
            HistoryValues(serial, 2, {"処理種別", "終了コード", "詳細コード", "入力レコード数", "出力レコード数"}),
            "31 " + conversion);
        // A file that failed its check is not converted and stays for a carry-on.
        EXPECT_EQ(HistoryValue(serial, 3, "処理種別"), job == "0000" ? "41" : "<none>");
        EXPECT_EQ(fs::exists(received + ".CII"), true);
        EXPECT_EQ(fs::exists(received + "0130.LOC"), job == "0000");
        EXPECT_EQ(registered_, ids(registered));
        EXPECT_EQ(OrderNumbers(received + "0130.TST"), ids(held_back));
        std::string codes;
        std::ifstream log(dir_ / "ERR.LOG");
        for (std::string line; std::getline(log, line);) {
            if (line.starts_with("52")) codes += (codes.empty() ? "" : " ") + line.substr(0, 4);
        }
        EXPECT_EQ(codes, log_codes);
    }
}

}  // namespace
}  // namespace edi
