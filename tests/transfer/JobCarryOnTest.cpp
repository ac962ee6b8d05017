#include <gtest/gtest.h>

#include <filesystem>

#include "JobFixture.h"
#include "transfer/JobCarryOn.h"
#include "transfer/ReceiveRun.h"

namespace edi {
namespace {

namespace fs = std::filesystem;
using test::JobTest;

const char* const kFile1 = "in/00000001_RCV_ABC_________.CII";
const char* const kFile2 = "in/00000002_RCV_ABC_________.CII";

class JobCarryOnTest : public JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        Center("ABC", "Z", Folder("link") + "ABC.dat", "C");
        Partner("ABC", "123456789012");
        AddRow("ABC");
    }
    RunReport CarryOn(std::int32_t serial) { return ReceiveRun(work_, *runner_, stop_).CarryOn(serial); }
    std::atomic<bool> stop_{false};
};

TEST_F(JobCarryOnTest, AFailedRegistrationRunsAgainOnceItsProgramIsBack) {
    test::WriteFile(dir_ / "link/ABC.dat", std::string_view("partner message"));
    starter_.action = [](const std::string&) { return false; };  // the program is missing
    work_.CurrentRow = 0;
    runner_->RunJob();
    ASSERT_EQ(Codes(1),
              (std::vector<std::string>{"0 03 0000 0000", "1 10 0000 0000", "2 31 0000 0000", "3 41 4100 0002"}));

    // Put back: the carried-on job takes the file over and registers it, once.
    StatusAnswer("1KIND12345678901200001000000900");
    const RunReport report = CarryOn(1);
    ASSERT_EQ(report.end, RunEnd::kFinished);
    ASSERT_EQ(report.jobs.size(), 1u);
    EXPECT_EQ(std::pair(report.jobs[0].serial, report.jobs[0].takes_over), std::pair(2, 1));
    EXPECT_TRUE(report.jobs[0].outcome.ok()) << OutcomeText(report.jobs[0].outcome);
    EXPECT_EQ(History(2), (std::vector<std::string>{"0 03 0000 8102  ",
                                                    "1 10 0000 8102 " + Folder("in") + "00000002_RCV_ABC_________.CII",
                                                    "2 31 0000 0000 " + Folder("in") + "00000002_RCV_ABC_________.CII",
                                                    "3 41 00 0000 F:/HIST/00000002_RCV_ABC_________KIND.TXT"}));
    EXPECT_EQ(HistoryValue(2, 0, "最終シーケンス番号"), "1") << "the new job names the one it carries on";
    EXPECT_EQ(HistoryValue(1, 3, "終了コード"), "4100") << "the earlier job's rows stay";
    EXPECT_EQ(Content(kFile1), "<none>");
    EXPECT_EQ(Content(kFile2), "partner message");
    EXPECT_EQ(Content("in/00000002_RCV_ABC_________01.LOC"), "partner message");
    EXPECT_EQ(Content("old/00000002_RCV_ABC_________.CII"), "partner message");
    ASSERT_EQ(starter_.commands.size(), 2u);
    EXPECT_NE(starter_.commands[1].find("EDI00000002.INI"), std::string::npos);

    // Neither job can go a second time; nothing else ran.
    const struct {
        std::int32_t serial;
        CarryOnBar bar;
        const char* reason;
    } again[] = {{1, CarryOnBar::kTakenOver, "job 1 cannot be carried on: job 2 took its received file over"},
                 {2, CarryOnBar::kEndedWell, "job 2 cannot be carried on: it was registered"},
                 {99, CarryOnBar::kUnknownJob, "job 99 cannot be carried on: no receive job has this serial"}};
    for (const auto& a : again) {
        SCOPED_TRACE(a.serial);
        const RunReport refused = CarryOn(a.serial);
        EXPECT_EQ(refused.end, RunEnd::kRefused);
        EXPECT_EQ(refused.refusal, a.bar);
        EXPECT_EQ(refused.reason, a.reason);
        EXPECT_TRUE(refused.jobs.empty());
    }
    EXPECT_EQ(History(3).size(), 0u);
    EXPECT_EQ(starter_.commands.size(), 2u);
}

TEST_F(JobCarryOnTest, TheJudgementSaysWhichJobsMayGoAgain) {
    test::WriteFile(dir_ / kFile1, std::string_view("message"));
    const auto row = [](std::int16_t branch, const char* kind, const char* end, const char* detail,
                        const char* file = "") {
        return JobRow{branch, kind, std::string(end) == "open", end, detail, file};
    };
    const JobRow received = row(1, "10", "0000", "0000", "/x/00000001_RCV_ABC_________.CII");
    const JobRow converted = row(2, "31", "0000", "0000");
    const JobRow xml_received = row(1, "10", "0000", "0000", "00000001_RCV_ABC_________.XML");
    const auto registered = [&](const char* end, const char* detail) {
        return std::vector<JobRow>{received, converted, row(3, "41", end, detail)};
    };
    using enum CarryOnBar;
    const struct {
        const char* name;
        std::vector<JobRow> rows;
        CarryOnBar bar;
        bool caution = false;
        bool open = false;
        std::int32_t taken_by = 0;
    } cases[] = {
        {"job row open", {received}, kUnfinished, false, true},
        {"receive failed", {row(1, "10", "5001", "9999")}, kNotReceived},
        {"conversion failed", {received, converted}, kNone},
        {"registered", registered("00", "0000"), kEndedWell},
        {"program never started", registered("9999", "9999"), kNone},
        {"no status file", registered("4100", "0002"), kNone, true},
        {"status not zero", registered("9999", "0000"), kNone, true},
        {"run ended inside the program", registered("4100", "0003"), kMayBeRegistered},
        {"file of another job", {row(1, "10", "0000", "0000", "00000007_RCV_ABC_________.CII")}, kNoReceivedFile},
        {"file taken over", {xml_received}, kTakenOver, false, false, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CarryOnCheck check = JudgeCarryOn(FinishedJob{1, "ABC", c.open, c.taken_by, c.rows}, Folder("in"));
        EXPECT_EQ(check.bar, c.bar);
        EXPECT_EQ(check.caution, c.caution);
    }
}

// A carrying-on job that ended at any instant of its take-over is finished by the next run from
// the earlier job's file, never from a new link file, and registers that file once.
TEST_F(JobCarryOnTest, ATakeOverCutShortIsFinishedByTheNextRun) {
    const struct {
        const char* name;
        const char* receive_row;  // "" none, "open"
        const char* file;         // where job 1's message is
    } instants[] = {{"after the job row named job 1", "", kFile1},
                    {"before the file was renamed", "open", kFile1},
                    {"after the file was renamed", "open", kFile2}};
    for (const auto& instant : instants) {
        SCOPED_TRACE(instant.name);
        Exec("DELETE FROM FL1102処理履歴ファイル");
        fs::remove_all(dir_ / "in");
        fs::create_directories(dir_ / "in");
        starter_.commands.clear();
        std::vector<test::HistoryRow> rows = {
            {.serial = 1, .end = "9999"},
            {1, 1, "10", "0000", "0000", Folder("in") + "00000001_RCV_ABC_________.CII"},
            {.serial = 2, .taken_from = 1}};
        if (std::string(instant.receive_row) == "open") rows.push_back({.serial = 2, .branch = 1, .kind = "10"});
        Exec(test::HistorySql(rows));
        test::WriteFile(dir_ / instant.file, std::string_view("message of job 1"));
        test::WriteFile(dir_ / "link/ABC.dat", std::string_view("next message"));

        const RunReport report = ReceiveRun(work_, *runner_, stop_).Run({0});
        ASSERT_EQ(report.jobs.size(), 2u);
        EXPECT_TRUE(report.jobs[0].carried_on);
        EXPECT_EQ(History(2)[0], "0 03 0000 8100  ");
        EXPECT_EQ(History(2)[1], "1 10 0000 8102 " + Folder("in") + "00000002_RCV_ABC_________.CII");
        EXPECT_EQ(Content("in/00000002_RCV_ABC_________01.LOC"), "message of job 1");
        EXPECT_EQ(Content(kFile1), "<none>");
        EXPECT_EQ(Content("in/00000003_RCV_ABC_________01.LOC"), "next message") << "the new job took the link file";
        EXPECT_EQ(starter_.commands.size(), 2u) << "each message registered once";
    }
}

}  // namespace
}  // namespace edi
