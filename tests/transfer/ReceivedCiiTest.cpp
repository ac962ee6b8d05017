// A received CII file as a job meets it, with the program's converters on the demo masters and
// a registration program that notes the order number of every record it is handed: test groups
// are held back, a damaged file never reaches registration.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "DemoOrders.h"
#include "JobFixture.h"
#include "convert/LocalCiiConversion.h"
#include "startup/SqlScript.h"
#include "transfer/ProgramConverters.h"

namespace edi {
namespace {

namespace fs = std::filesystem;

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
    struct Row {
        const char* name;
        std::string settings;  // section CIICHECK
        std::string message;
        std::string job;         // the job row's 終了コード
        std::string conversion;  // the CII row: 終了コード 詳細コード 入力レコード数 出力レコード数
        std::vector<std::string> registered;
        std::vector<std::string> held_back;  // in the test-data file
        std::string log;                     // ERR.LOG lines of codes 52xx, without their texts
    };
    const Row rows[] = {
        {"production and test",
         "",
         production + test_data,
         "0000",
         "0000 5210 3 2",
         {"PO00000000001", "PO00000000002"},
         {"PT00000000001"},
         "5210"},
        {"test only", "", test_data, "0000", "0000 5210 1 0", {}, {"PT00000000001"}, "5210"},
        {"test registered",
         "RegisterTestData=1",
         production + test_data,
         "0000",
         "0000 5211 3 3",
         {"PO00000000001", "PO00000000002", "PT00000000001"},
         {},
         "5211"},
        {"cut inside the last end record",
         "",
         (production + test_data).substr(0, production.size() + test_data.size() - 100),
         "5200",
         "5200 5202 3 0",
         {},
         {},
         "5202"},
        {"a wrong count", "", miscounted, "5200", "5200 5205 2 0", {}, {}, "5205"},
        {"a wrong count the site lets pass",
         "WarnCount=1",
         miscounted,
         "0000",
         "0000 0000 0 0",
         {"PO00000000001", "PO00000000002"},
         {},
         "5205"},
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
        EXPECT_EQ(registered_, r.registered);
        EXPECT_EQ(OrderNumbers(received + "0130.TST"), r.held_back);
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
