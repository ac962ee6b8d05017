#include "transfer/ReceiveRun.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "JobFixture.h"
#include "transfer/RunLock.h"

namespace edi {
namespace {

namespace fs = std::filesystem;
using test::JobTest;

class ReceiveRunTest : public JobTest {
protected:
    std::string EndCode(int serial, int branch) { return HistoryValue(serial, branch, "終了コード"); }

    RunReport Run() { return ReceiveRun(work_, *runner_, stop_).Run(MarkedRows(work_)); }

    std::atomic<bool> stop_{false};
};

TEST_F(ReceiveRunTest, ARunThatCannotBeSureTakesNoFile) {
    LinkCenter("A1");
    work_.TerminalName = "T1";
    RunLock other;
    ASSERT_EQ(other.Take(RunLockPath(work_)), RunLock::State::kTaken);
    const RunReport locked = Run();
    EXPECT_EQ(locked.end, RunEnd::kLocked);
    EXPECT_NE(locked.reason.find(".k500100-T1.lock"), std::string::npos) << locked.reason;
    EXPECT_TRUE(locked.jobs.empty());
    EXPECT_TRUE(fs::exists(Folder("link") + "A1.dat"));
    EXPECT_EQ(History(1).size(), 0u);

    other.Release();
    const RunReport run = Run();
    EXPECT_EQ(run.end, RunEnd::kFinished);
    EXPECT_TRUE(run.all_well());
    EXPECT_EQ(EndCode(1, 0), "0000");

    test::WriteFile(Folder("link") + "A1.dat", std::string_view("next message"));
    work_.EDIINFIL = Folder("no-such-folder");
    const RunReport no_folder = Run();
    EXPECT_EQ(no_folder.end, RunEnd::kLockFailed);
    EXPECT_NE(no_folder.reason.find("no-such-folder"), std::string::npos) << no_folder.reason;

    // Without the history the unfinished jobs are unknown: no new file may be taken.
    work_.EDIINFIL = Folder("in");
    work_.Db.reset();
    EXPECT_EQ(Run().end, RunEnd::kHistoryFailed);
    EXPECT_EQ(test::ReadText(Folder("link") + "A1.dat"), "next message");
}

TEST_F(ReceiveRunTest, UnfinishedJobsAreCarriedOnBeforeNewFilesAreTaken) {
    LinkCenter("A1");
    // Job 1 was killed after its receive row was opened: the link file is still where it was.
    OpenJob("A1");
    HistoryStart receive = ReceiveHistoryStart(1, kKindTransfer, "A1");
    OpenStageHistory(work_, receive, clock_);
    const RunReport report = Run();
    ASSERT_EQ(report.jobs.size(), 2u);
    EXPECT_TRUE(report.jobs[0].carried_on);
    EXPECT_EQ(report.jobs[0].serial, 1);
    EXPECT_TRUE(report.jobs[0].outcome.ok());
    EXPECT_EQ(HistoryValue(1, 0, "詳細コード"), "8100");
    EXPECT_EQ(test::ReadText(Folder("in") + "00000001_RCV_A1__________01.LOC"), "message of A1");
    // The new job of the center finds no file: the one message was registered once, by job 1.
    EXPECT_EQ(report.jobs[1].serial, 2);
    EXPECT_EQ(EndCode(2, 1), "5001");
    EXPECT_EQ(report.jobs[1].outcome.stage, "receive");
    EXPECT_EQ(OutcomeText(report.jobs[1].outcome), "5001/9999 the link package's file could not be taken over");
    EXPECT_EQ(starter_.commands.size(), 1u);
    EXPECT_FALSE(report.all_well());
}

TEST_F(ReceiveRunTest, AStopRequestLetsTheJobInHandFinishAndRunsNoOther) {
    for (const char* code : {"A1", "A2", "A3"}) LinkCenter(code);
    display_.on_status = [this](int column, const std::string& text) {
        if (column == kConversionColumn && text == "変換中") stop_ = true;
    };
    const RunReport report = Run();
    EXPECT_EQ(report.end, RunEnd::kStopped);
    ASSERT_EQ(report.jobs.size(), 1u);
    EXPECT_EQ(EndCode(1, 0), "0000");
    EXPECT_EQ(EndCode(1, 3), "00") << "the job in hand registered";
    EXPECT_EQ(History(2).size(), 0u);
    EXPECT_TRUE(fs::exists(Folder("link") + "A2.dat"));
    EXPECT_TRUE(fs::exists(Folder("link") + "A3.dat"));
}

}  // namespace
}  // namespace edi
