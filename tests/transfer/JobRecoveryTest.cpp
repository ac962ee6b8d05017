#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "JobFixture.h"
#include "transfer/JobRecovery.h"

namespace edi {
namespace {

using test::JobTest;

// Files of a table cell: "path=content; ..." relative to the test folder, @ standing for job 1's
// name; content "-" is no file.
std::map<std::string, std::string> Files(std::string cell) {
    for (std::size_t at; (at = cell.find('@')) != std::string::npos;) cell.replace(at, 1, "00000001_RCV_ABC_________");
    std::map<std::string, std::string> files;
    for (std::size_t at = 0; at < cell.size();) {
        const std::size_t end = std::min(cell.find("; ", at), cell.size());
        const std::size_t equals = cell.find('=', at);
        files[cell.substr(at, equals - at)] = cell.substr(equals + 1, end - equals - 1);
        at = end + 2;
    }
    return files;
}

// Rows of a table cell after job 1's row, branches 1, 2, ...: "kind" open, "kind:end" closed with
// detail 0000, "kind:end:detail".
std::vector<test::HistoryRow> Rows(const char* cell) {
    std::vector<test::HistoryRow> rows;
    for (const std::string& word : test::Words(cell)) {
        const std::size_t colon = word.find(':'), second = word.find(':', colon + 1);
        rows.push_back({1, static_cast<int>(rows.size() + 1), word.substr(0, colon),
                        colon == std::string::npos ? "" : word.substr(colon + 1, second - colon - 1),
                        second == std::string::npos ? "0000" : word.substr(second + 1)});
    }
    return rows;
}

using JobRecoveryTest = JobTest;

// Job 1 of center ABC as the end of its run left it: its rows and files. After the carry-on the
// job is registered as often as `starts` says, its rows read `history` and its files `afterwards`.
TEST_F(JobRecoveryTest, EveryInstantOfAKilledJobEndsRegisteredOnceWithItsRowsClosed) {
    const std::string converted = "in/@.CII=message; in/@01.LOC=message";
    const char* const plain = "10:0000 31:0000 41:00";
    const struct {
        const char* name;
        const char* form;  // 送受信データ形式 of the center
        const char* rows;
        std::string files;
        std::size_t starts;  // registration program starts
        const char* history;
        const char* afterwards;
    } crashes[] = {
        {"after the job row", "C", "", "link/ABC.dat=message", 1, plain, "link/ABC.dat=-; in/@01.LOC=message"},
        {"while copying the link file", "C", "10", "link/ABC.dat=message; in/.@.CII.part=partner", 1, plain,
         "link/ABC.dat=-; in/.@.CII.part=-; in/@01.LOC=message"},
        {"after the copy, before the link file was deleted", "C", "10", "link/ABC.dat=message; in/@.CII=message", 1,
         plain, "link/ABC.dat=-; in/@01.LOC=message"},
        {"a later message of the same size at the link path", "C", "10", "link/ABC.dat=another; in/@.CII=message", 1,
         plain, "link/ABC.dat=another; in/@01.LOC=message"},
        {"before the receive row was closed", "C", "10", "in/@.CII=message", 1, plain, "in/@01.LOC=message"},
        {"during the conversion", "C", "10:0000 31", "in/@.CII=message; in/@01.LOC=part; in/@01.LOC.77-1.tmp=par", 1,
         "10:0000 31:8101 31:0000 41:00", "in/@01.LOC=message; in/@01.LOC.77-1.tmp=-"},
        {"before the registration row", "C", "10:0000 31:0000", converted, 1, "10:0000 31:0000 31:0000 41:00", ""},
        {"before the registration program started", "C", "10:0000 31:0000 41",
         converted + "; pr/EDI00000001.INI=written", 1, plain, ""},
        {"while the registration program ran, which then finished", "C", "10:0000 31:0000 41",
         converted + "; pr/.EDI00000001.started=; st/00000001_Z_IN_STATUS.TXT=1KIND12345678901200001000000900\r\n", 0,
         plain, "pr/.EDI00000001.started=-"},
        {"inside the registration program, which left no status file", "C", "10:0000 31:0000 41",
         converted + "; pr/.EDI00000001.started=", 0, "10:0000 31:0000 41:4100:0003", ""},
        {"before the job row was closed", "C", "10:0000 31:0000 41:00", converted, 0, plain, "old/@01.LOC=message"},
        {"during the XML conversion", "X", "10:0000 34:0000 31", "in/@.XML=<x/>; in/@.CII=from @.XML\nfrom", 1,
         "10:0000 34:0000 31:8101 34:0000 31:0000 41:00", "in/@.CII=from @.XML\n; in/@.XML=<x/>"},
    };
    for (const auto& c : crashes) {
        SCOPED_TRACE(c.name);
        Reset();
        Center("ABC", "Z", Folder("link") + "ABC.dat", c.form);
        Partner("ABC", "123456789012");
        AddRow("ABC");
        std::vector<test::HistoryRow> rows = Rows(c.rows);
        rows.insert(rows.begin(), {.serial = 1});
        Exec(test::HistorySql(rows));
        for (const auto& [path, text] : Files(c.files)) test::WriteFile(dir_ / path, std::string_view(text));

        const auto unfinished = FindUnfinishedJobs(work_);
        ASSERT_TRUE(unfinished.has_value());
        ASSERT_EQ(unfinished->size(), 1u);
        EXPECT_TRUE(runner_->CarryOnJob(unfinished->front().serial, unfinished->front().center_code));

        EXPECT_EQ(starter_.commands.size(), c.starts);
        std::vector<std::string> history = {"0 03 0000 8100"};
        for (const test::HistoryRow& row : Rows(c.history)) {
            history.push_back(std::to_string(row.branch) + " " + row.kind + " " + row.end + " " + row.detail);
        }
        EXPECT_EQ(Codes(1), history);
        EXPECT_EQ(Scalar("SELECT COUNT(*) AS n FROM FL1102処理履歴ファイル WHERE 処理終了日付 IS NULL", "n"), "0");
        for (const auto& [path, text] : Files(c.afterwards))
            EXPECT_EQ(Content(path), text == "-" ? "<none>" : text) << path;
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
