#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "JobFixture.h"
#include "transfer/FileMove.h"
#include "transfer/RunLock.h"

namespace edi {
namespace {

namespace fs = std::filesystem;
using test::JobTest;

using JobRunTest = JobTest;

TEST_F(JobRunTest, AllStagesWellShowOkThreeTimesAndDone) {
    LinkCenter("ABC");
    runner_->RunJob();
    const std::vector<std::string> events = {"0 state 1", "0:4 受信中", "0:4 OK", "0:5 変換中",
                                             "0:5 OK",    "0:6 登録中", "0:6 OK", "0 state 2"};
    EXPECT_EQ(display_.events, events);
    const CenterEntry& row = work_.Centers[0];
    EXPECT_EQ(row.ReceiveStatus + row.ConversionStatus + row.RegistrationStatus + std::to_string(row.RowState),
              "OKOKOK2");
    // The stages' rows and files of a good job: batch_end_to_end.
    EXPECT_EQ(Content("in/00000001_RCV_ABC_________01.LOC"), "message of ABC");
}

// A refused receive row leaves the job open for the next run to carry on and still archives what
// the job had; a refused job row leaves it unnumbered. Either way the link file and the later
// cells stay.
TEST_F(JobRunTest, RefusedHistoryRowStopsTheJobAndLosesNothing) {
    // The refused kind, the display's events, the job's rows and whether its earlier file is checked in
    // the archive.
    using Strings = std::vector<std::string>;
    const std::tuple<std::string, Strings, Strings, bool> cases[] = {
        {"10", {"0 state 1", "0:4 受信中", "0:4 受信ｴﾗｰ", "0 state 9"}, {"0 03 - - -"}, true},
        {"03", {"0 state 1", "0:4 通番ｴﾗｰ", "0 state 9"}, {}, false},
    };
    for (const auto& [kind, events, history, archived] : cases) {
        SCOPED_TRACE(kind);
        Reset();
        LinkCenter("ABC");
        work_.Centers[0].ConversionStatus = "earlier";
        work_.Centers[0].RegistrationStatus = "earlier too";
        test::WriteFile(Folder("in") + "00000001_RCV_A.CII", std::string_view("already here"));
        // A trigger per kind: the one refusing "10" stays, "03" comes first.
        Exec("CREATE TRIGGER refuse" + kind + " BEFORE INSERT ON FL1102処理履歴ファイル WHEN NEW.処理種別 = '" + kind +
             "' BEGIN SELECT RAISE(ABORT, 'refused'); END");
        runner_->RunJob();
        EXPECT_EQ(display_.events, events);
        EXPECT_EQ(work_.Centers[0].ConversionStatus + work_.Centers[0].RegistrationStatus, "earlierearlier too");
        EXPECT_TRUE(converters_.local_calls.empty() && starter_.commands.empty());
        EXPECT_EQ(History(1), history);
        EXPECT_EQ(runner_->outcome().stage, "database");
        EXPECT_EQ(Content("link/ABC.dat"), "message of ABC");
        if (archived) {
            EXPECT_EQ(Content("old/00000001_RCV_A.CII"), "already here");
        }
    }
}

TEST_F(JobRunTest, ArchiveTakesTheEightDigitPrefixOnly) {
    test::WriteFile(Folder("in") + "00000007_RCV_A.CII", std::string_view("7"));
    test::WriteFile(Folder("in") + "00000071_X.TXT", std::string_view("71"));
    test::WriteFile(Folder("out") + "00000007_SND_A.CII", std::string_view("sent"));
    test::WriteFile(Folder("old") + "00000007_RCV_A.CII", std::string_view("an older copy"));
    EXPECT_TRUE(runner_->ArchiveJobFiles(7, 0));
    EXPECT_EQ(Content("old/00000007_RCV_A.CII") + Content("old/00000071_X.TXT") + Content("old/00000007_SND_A.CII"),
              "7<none><none>");
    EXPECT_TRUE(runner_->ArchiveJobFiles(7, 1));
    EXPECT_EQ(Content("old/00000007_SND_A.CII"), "sent");
}

TEST_F(JobRunTest, RunNowTakesWaitingMarkedRowsInGridOrder) {
    for (const char* code : {"A1", "A2", "A3"}) LinkCenter(code);
    work_.Centers[1].RunFlag = false;
    RunRows(WaitingMarkedRows(work_));
    const std::vector<int> states = {work_.Centers[0].RowState, work_.Centers[1].RowState, work_.Centers[2].RowState};
    EXPECT_EQ(states, (std::vector<int>{2, 0, 2}));
    EXPECT_EQ(HistoryValue(2, 0, "センターコード"), "A3");
    EXPECT_EQ(WaitingMarkedRows(work_), std::vector<int>{}) << "rows that ran are not run again";
    EXPECT_EQ(MarkedRows(work_), (std::vector<int>{0, 2})) << "the armed schedule runs them all again";
}

TEST_F(JobRunTest, ARunThatCannotBeSureTakesNoFile) {
    LinkCenter("A1");
    work_.TerminalName = "T1";
    const auto run = [&] { return RunRows(MarkedRows(work_)); };
    RunLock other;
    ASSERT_EQ(other.Take(RunLockPath(work_)), RunLock::State::kTaken);
    const RunReport locked = run();
    EXPECT_EQ(locked.end, RunEnd::kLocked);
    EXPECT_NE(locked.reason.find(".k500100-T1.lock"), std::string::npos) << locked.reason;
    EXPECT_TRUE(locked.jobs.empty());
    EXPECT_EQ(History(1).size(), 0u);
    other.Release();

    work_.EDIINFIL = Folder("no-such-folder");
    const RunReport no_folder = run();
    EXPECT_EQ(no_folder.end, RunEnd::kLockFailed);
    EXPECT_NE(no_folder.reason.find("no-such-folder"), std::string::npos) << no_folder.reason;

    // Without the history the unfinished jobs are unknown: no new file may be taken.
    work_.EDIINFIL = Folder("in");
    work_.Db.reset();
    EXPECT_EQ(run().end, RunEnd::kHistoryFailed);
    EXPECT_EQ(Content("link/A1.dat"), "message of A1");
}

// In a child process whose files may not grow past 4 KiB, as on a full disk.
int MoveWithFileSizeLimit(const std::string& source, const std::string& destination) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(MoveFile(source, destination));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(JobRunTest, MoveRenamesWithinAFileSystemAndCopiesWholeAcrossOnes) {
    const std::string destination = Folder("in") + "00000001_RCV_ABC_________.CII";
    const std::string content(100000, 'x');
    const auto status = [](const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st;
    };
    // Within one file system the file itself takes the name, replacing the file there: no
    // copy, however full the disk.
    const std::string near = Folder("link") + "near.dat";
    test::WriteFile(near, std::string_view(content));
    test::WriteFile(destination, std::string_view("the earlier file"));
    const auto moved = status(near).st_ino;
    EXPECT_EQ(MoveWithFileSizeLimit(near, destination), 0);
    EXPECT_EQ(status(destination).st_ino, moved);
    EXPECT_EQ(test::ReadText(destination), content);
    EXPECT_FALSE(fs::exists(near));
    EXPECT_EQ(MoveFile(near, destination), 1);
    EXPECT_EQ(MoveFile(destination, destination), 0);

    // From another file system it is copied: a full disk keeps the source and leaves no part.
    if (!fs::is_directory("/dev/shm") || status("/dev/shm").st_dev == status(Folder("in")).st_dev) {
        GTEST_SKIP() << "no second file system";
    }
    const test::TempDir far_dir("/dev/shm");
    const std::string far = (far_dir / "far.dat").string();
    test::WriteFile(far, std::string_view(content));
    test::WriteFile(destination, std::string_view("the earlier file"));
    EXPECT_EQ(MoveWithFileSizeLimit(far, destination), 9);
    EXPECT_EQ(test::ReadText(far), content);
    EXPECT_EQ(test::ReadText(destination), "the earlier file");
    EXPECT_EQ(std::distance(fs::directory_iterator(Folder("in")), {}), 1) << "no part left beside it";
    // With room again the same move succeeds.
    EXPECT_EQ(MoveFile(far, destination), 0);
    EXPECT_EQ(test::ReadText(destination), content);
    EXPECT_FALSE(fs::exists(far));
}

}  // namespace
}  // namespace edi
