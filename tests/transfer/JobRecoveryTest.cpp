#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "JobFixture.h"
#include "transfer/JobRecovery.h"

namespace edi {
namespace {

namespace fs = std::filesystem;
using test::JobTest;

const char* const kReceived = "in/00000001_RCV_ABC_________.CII";
const char* const kReceivedXml = "in/00000001_RCV_ABC_________.XML";
const char* const kLocal = "in/00000001_RCV_ABC_________01.LOC";
const char* const kMarker = "pr/.EDI00000001.started";
const char* const kStatus = "st/00000001_Z_IN_STATUS.TXT";
const char* const kLink = "link/ABC.dat";
const std::string kStatusLine = "1KIND123456789012000010000009" + std::string("00") + "\r\n";

// Job 1 of center ABC as the end of its run left it: its rows and files. After the carry-on
// the job is registered as often as `starts` says and its rows read `history`.
struct Crash {
    const char* name;
    const char* form;                               // 送受信データ形式 of the center
    std::vector<std::string> rows;                  // "kind" open, "kind code" closed, branches 1, 2, ...
    std::map<std::string, std::string> files;       // relative to the test folder
    std::size_t starts;                             // registration program starts
    std::vector<std::string> history;               // "枝番 処理種別 終了コード 詳細コード"
    std::map<std::string, std::string> afterwards;  // file contents; "<none>" for no file
};

using JobRecoveryTest = JobTest;

TEST_F(JobRecoveryTest, EveryInstantOfAKilledJobEndsRegisteredOnceWithItsRowsClosed) {
    const std::string msg = "partner message";
    const std::map<std::string, std::string> converted = {{kReceived, msg}, {kLocal, msg}};
    const auto with = [](std::map<std::string, std::string> files, const std::string& path, const std::string& text) {
        files[path] = text;
        return files;
    };
    const std::vector<std::string> plain = {"0 03 0000 8100", "1 10 0000 0000", "2 31 0000 0000", "3 41 00 0000"};
    const std::vector<std::string> redone = {"0 03 0000 8100", "1 10 0000 0000", "2 31 8101 0000", "3 31 0000 0000",
                                             "4 41 00 0000"};
    const std::vector<std::string> after_conversion = {"0 03 0000 8100", "1 10 0000 0000", "2 31 0000 0000",
                                                       "3 31 0000 0000", "4 41 00 0000"};
    const Crash crashes[] = {
        {"after the job row", "C", {}, {{kLink, msg}}, 1, plain, {{kLink, "<none>"}, {kLocal, msg}}},
        {"while copying the link file",
         "C",
         {"10"},
         {{kLink, msg}, {"in/.00000001_RCV_ABC_________.CII.part", "partner"}},
         1,
         plain,
         {{kLink, "<none>"}, {"in/.00000001_RCV_ABC_________.CII.part", "<none>"}, {kLocal, msg}}},
        {"after the copy, before the link file was deleted",
         "C",
         {"10"},
         {{kLink, msg}, {kReceived, msg}},
         1,
         plain,
         {{kLink, "<none>"}, {kLocal, msg}}},
        {"a later message already at the link path",
         "C",
         {"10"},
         {{kLink, "a later message"}, {kReceived, msg}},
         1,
         plain,
         {{kLink, "a later message"}, {kLocal, msg}}},
        {"before the receive row was closed", "C", {"10"}, {{kReceived, msg}}, 1, plain, {{kLocal, msg}}},
        {"during the conversion",
         "C",
         {"10 0000", "31"},
         {{kReceived, msg}, {kLocal, "part"}, {"in/00000001_RCV_ABC_________01.LOC.77-1.tmp", "par"}},
         1,
         redone,
         {{kLocal, msg}, {"in/00000001_RCV_ABC_________01.LOC.77-1.tmp", "<none>"}}},
        {"before the registration row", "C", {"10 0000", "31 0000"}, converted, 1, after_conversion, {}},
        {"before the registration program started",
         "C",
         {"10 0000", "31 0000", "41"},
         with(converted, "pr/EDI00000001.INI", "written"),
         1,
         plain,
         {}},
        {"while the registration program ran, which then finished",
         "C",
         {"10 0000", "31 0000", "41"},
         with(with(converted, kMarker, ""), kStatus, kStatusLine),
         0,
         plain,
         {{kMarker, "<none>"}}},
        {"inside the registration program, which left no status file",
         "C",
         {"10 0000", "31 0000", "41"},
         with(converted, kMarker, ""),
         0,
         {"0 03 0000 8100", "1 10 0000 0000", "2 31 0000 0000", "3 41 4100 0003"},
         {}},
        {"before the job row was closed",
         "C",
         {"10 0000", "31 0000", "41 00"},
         converted,
         0,
         plain,
         {{"old/00000001_RCV_ABC_________01.LOC", msg}}},
        {"during the XML conversion",
         "X",
         {"10 0000", "34 0000", "31"},
         {{kReceivedXml, "<x/>"}, {kReceived, "from 00000001_RCV_ABC_________.XML\nfrom"}},
         1,
         {"0 03 0000 8100", "1 10 0000 0000", "2 34 0000 0000", "3 31 8101 0000", "4 34 0000 0000", "5 31 0000 0000",
          "6 41 00 0000"},
         {{kReceived, "from 00000001_RCV_ABC_________.XML\n"}, {kReceivedXml, "<x/>"}}},
    };
    for (const Crash& c : crashes) {
        SCOPED_TRACE(c.name);
        Reset();
        Center("ABC", "Z", Folder("link") + "ABC.dat", c.form);
        Partner("ABC", "123456789012");
        AddRow("ABC");
        std::vector<test::HistoryRow> rows = {{.serial = 1}};
        for (const std::string& row : c.rows) {
            const std::size_t blank = row.find(' ');
            rows.push_back({1, static_cast<int>(rows.size()), row.substr(0, blank),
                            blank == std::string::npos ? "" : row.substr(blank + 1)});
        }
        Exec(test::HistorySql(rows));
        for (const auto& [path, text] : c.files) test::WriteFile(dir_ / path, std::string_view(text));

        const auto unfinished = FindUnfinishedJobs(work_);
        ASSERT_TRUE(unfinished.has_value());
        ASSERT_EQ(unfinished->size(), 1u);
        EXPECT_TRUE(runner_->CarryOnJob(unfinished->front().serial, unfinished->front().center_code));

        EXPECT_EQ(starter_.commands.size(), c.starts);
        EXPECT_EQ(Codes(1), c.history);
        EXPECT_EQ(Scalar("SELECT COUNT(*) AS n FROM FL1102処理履歴ファイル WHERE 処理終了日付 IS NULL", "n"), "0");
        for (const auto& [path, text] : c.afterwards) EXPECT_EQ(Content(path), text) << path;
        EXPECT_EQ(FindUnfinishedJobs(work_)->size(), 0u);
    }
}

template <typename B>
class UnfinishedJobsTest : public test::DbFixture<B> {};
TYPED_TEST_SUITE(UnfinishedJobsTest, test::DbBackends, test::DbBackendNames);

TYPED_TEST(UnfinishedJobsTest, OpenReceiveJobsOfThisTerminalsCentersAndWhereTheyStand) {
    test::AddTerminalCenters(this->work_, {"ABC"});
    this->Exec(test::HistorySql({{.serial = 1},
                                 {.serial = 2, .center = "OTHER"},
                                 {.serial = 3, .end = "0000"},
                                 {.serial = 4, .direction = "S"},
                                 {.serial = 5, .branch = 1, .kind = "10"},
                                 {.serial = 6},
                                 {6, 1, "10", "5001"},
                                 {6, 2, "31"}}));
    const auto unfinished = FindUnfinishedJobs(this->work_);
    ASSERT_TRUE(unfinished.has_value());
    std::vector<std::int32_t> serials;
    for (const auto& job : *unfinished) serials.push_back(job.serial);
    EXPECT_EQ(serials, (std::vector<std::int32_t>{1, 6}));

    const auto rows = ReadJobRows(this->work_, 6);
    ASSERT_TRUE(rows.has_value());
    const JobProgress progress = ProgressOf(*rows);
    EXPECT_TRUE(progress.receive.closed);
    EXPECT_EQ(progress.receive.終了コード, "5001");
    EXPECT_FALSE(progress.converted);
    EXPECT_EQ(progress.cut_short, std::vector<std::int16_t>{2});
}

}  // namespace
}  // namespace edi
