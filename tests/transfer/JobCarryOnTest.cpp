#include <algorithm>
#include <map>
#include <tuple>

#include "JobFixture.h"
#include "transfer/JobCarryOn.h"
#include "transfer/JobRecovery.h"

namespace edi {
namespace {

using JobCarryOnTest = test::JobTest;

const char* const kFile1 = "in/00000001_RCV_ABC_________.CII";
const char* const kFile2 = "in/00000002_RCV_ABC_________.CII";

// A carried-on job's rows and files: batch_end_to_end. Here what is refused, and that nothing runs.
TEST_F(JobCarryOnTest, AJobThatEndedWellOrIsUnknownIsNotCarriedOn) {
    LinkCenter("ABC");
    Exec(test::HistorySql({{.serial = 2, .end = "0000"},
                           {2, 1, "10", "0000", "0000", Folder("in") + "00000002_RCV_ABC_________.CII"},
                           {2, 2, "31", "0000"},
                           {2, 3, "41", "00"}}));
    test::WriteFile(dir_ / kFile2, std::string_view("message"));
    const std::tuple<std::int32_t, CarryOnBar, std::string> again[] = {
        {2, CarryOnBar::kEndedWell, "job 2 cannot be carried on: it was registered"},
        {99, CarryOnBar::kUnknownJob, "job 99 cannot be carried on: no receive job has this serial"}};
    for (const auto& [serial, bar, reason] : again) {
        const RunReport refused = CarryOn(serial);
        EXPECT_EQ(std::tuple(refused.end, refused.refusal, refused.reason, refused.jobs.size()),
                  std::tuple(RunEnd::kRefused, bar, reason, 0u))
            << serial;
    }
    EXPECT_EQ(History(3).size(), 0u);
    EXPECT_TRUE(starter_.commands.empty());
}

TEST_F(JobCarryOnTest, TheJudgementSaysWhichJobsMayGoAgain) {
    test::WriteFile(dir_ / kFile1, std::string_view("message"));
    const auto row = [](std::int16_t branch, const char* kind, const char* end, const char* detail,
                        const char* file = "") {
        return JobRow{branch, kind, std::string(end) == "open", end, detail, file};
    };
    const JobRow received = row(1, "10", "0000", "0000", "/x/00000001_RCV_ABC_________.CII");
    const auto registered = [&](const char* end, const char* detail) {
        return std::vector<JobRow>{received, row(2, "31", "0000", "0000"), row(3, "41", end, detail)};
    };
    using enum CarryOnBar;
    // The case, the job's rows, and what bars its carry-on and whether with a caution.
    const std::tuple<const char*, std::vector<JobRow>, std::pair<CarryOnBar, bool>> cases[] = {
        {"receive failed", {row(1, "10", "5001", "9999")}, {kNotReceived, false}},
        {"program never started", registered("9999", "9999"), {kNone, false}},
        {"no status file", registered("4100", "0002"), {kNone, true}},
        {"status not zero", registered("9999", "0000"), {kNone, true}},
        {"run ended inside the program", registered("4100", "0003"), {kMayBeRegistered, false}},
        {"file of another job",
         {row(1, "10", "0000", "0000", "00000007_RCV_ABC_________.CII")},
         {kNoReceivedFile, false}},
    };
    for (const auto& [name, rows, judgement] : cases) {
        const CarryOnCheck check = JudgeCarryOn(FinishedJob{1, "ABC", false, 0, rows}, Folder("in"));
        EXPECT_EQ(std::pair(check.bar, check.caution), judgement) << name;
    }
}

// A carrying-on job that ended at any instant of its take-over is finished by the next run from
// the earlier job's file, never from a new link file, and registers that file once.
TEST_F(JobCarryOnTest, ATakeOverCutShortIsFinishedByTheNextRun) {
    // The instant, whether job 2's receive row is open, and where job 1's message is.
    const std::tuple<const char*, bool, const char*> instants[] = {{"after the job row named job 1", false, kFile1},
                                                                   {"before the file was renamed", true, kFile1},
                                                                   {"after the file was renamed", true, kFile2}};
    for (const auto& [instant, receive_open, file] : instants) {
        SCOPED_TRACE(instant);
        Reset();
        LinkCenter("ABC");
        std::vector<test::HistoryRow> rows = {
            {.serial = 1, .end = "9999"},
            {1, 1, "10", "0000", "0000", Folder("in") + "00000001_RCV_ABC_________.CII"},
            {.serial = 2, .taken_from = 1}};
        if (receive_open) rows.push_back({.serial = 2, .branch = 1, .kind = "10"});
        Exec(test::HistorySql(rows));
        test::WriteFile(dir_ / file, std::string_view("message of job 1"));

        const RunReport report = RunRows({0});
        ASSERT_EQ(report.jobs.size(), 2u);
        EXPECT_TRUE(report.jobs[0].carried_on);
        EXPECT_EQ(History(2)[0], "0 03 0000 8100  ");
        EXPECT_EQ(History(2)[1], "1 10 0000 8102 " + Folder("in") + "00000002_RCV_ABC_________.CII");
        EXPECT_EQ(Content("in/00000002_RCV_ABC_________01.LOC"), "message of job 1");
        EXPECT_EQ(Content(kFile1), "<none>");
        EXPECT_EQ(Content("in/00000003_RCV_ABC_________01.LOC"), "message of ABC") << "the new job took the link file";
        EXPECT_EQ(starter_.commands.size(), 2u) << "each message registered once";
    }
}

// The program ran and left no status file, and the job's end could not be committed: its
// started marker stays, so the next run records the registration as cut short and does not
// start the program again.
TEST_F(JobCarryOnTest, AStartedMarkerOutlivesAJobEndThatWasNotCommitted) {
    LinkCenter("ABC");
    starter_.action = [](const std::string&) { return true; };
    for (const char* sql : {"PRAGMA foreign_keys = 1", "CREATE TABLE refuse_parent (id INTEGER PRIMARY KEY)",
                            "CREATE TABLE refuse_child (id INTEGER REFERENCES refuse_parent (id) DEFERRABLE "
                            "INITIALLY DEFERRED)",
                            "CREATE TRIGGER refuse_end AFTER UPDATE ON FL1102処理履歴ファイル WHEN NEW.処理種別 = '41' "
                            "BEGIN INSERT INTO refuse_child VALUES (1); END"}) {
        ASSERT_TRUE(Exec(sql)) << sql;
    }
    EXPECT_EQ(RunRows({0}).end, RunEnd::kHistoryFailed);
    EXPECT_EQ(Content("pr/.EDI00000001.started"), "");
    ASSERT_TRUE(Exec("DROP TRIGGER refuse_end"));
    EXPECT_EQ(RunRows({}).end, RunEnd::kFinished);
    EXPECT_EQ(starter_.commands.size(), 1u) << "the program is not started again";
    EXPECT_EQ(converters_.runs_begun, 2) << "each run reads the masters again";
    EXPECT_EQ(Codes(1).back(), "3 41 4100 0003");
    EXPECT_EQ(Content("pr/.EDI00000001.started"), "<none>");
}

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

using JobRecoveryTest = test::JobTest;

// Job 1 of center ABC as the end of its run left it: its rows and files. After the carry-on the
// job is registered as often as `starts` says, its rows read `history` and its files `afterwards`.
TEST_F(JobRecoveryTest, EveryInstantOfAKilledJobEndsRegisteredOnceWithItsRowsClosed) {
    const std::string converted = "in/@.CII=message; in/@01.LOC=message";
    const char* const plain = "10:0000 31:0000 41:00";
    // The instant; 送受信データ形式 of the center; the job's rows and files as the end left them; how
    // often the registration program is started; the rows and files afterwards.
    using Crash = std::tuple<const char*, std::string, const char*, std::string, std::size_t, const char*, const char*>;
    const Crash crashes[] = {
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
    for (const auto& [name, form, rows_left, files, starts, history_after, afterwards] : crashes) {
        SCOPED_TRACE(name);
        Reset();
        LinkCenter("ABC", form, false);
        std::vector<test::HistoryRow> rows = Rows(rows_left);
        rows.insert(rows.begin(), {.serial = 1});
        Exec(test::HistorySql(rows));
        for (const auto& [path, text] : Files(files)) test::WriteFile(dir_ / path, std::string_view(text));

        const auto unfinished = FindUnfinishedJobs(work_);
        ASSERT_TRUE(unfinished.has_value());
        ASSERT_EQ(unfinished->size(), 1u);
        EXPECT_TRUE(runner_->CarryOnJob(unfinished->front().serial, unfinished->front().center_code));
        EXPECT_TRUE(runner_->SettleRun());

        EXPECT_EQ(starter_.commands.size(), starts);
        std::vector<std::string> history = {"0 03 0000 8100"};
        for (const test::HistoryRow& row : Rows(history_after)) {
            history.push_back(std::to_string(row.branch) + " " + row.kind + " " + row.end + " " + row.detail);
        }
        EXPECT_EQ(Codes(1), history);
        EXPECT_EQ(Count("処理終了日付 IS NULL"), "0");
        for (const auto& [path, text] : Files(afterwards))
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
