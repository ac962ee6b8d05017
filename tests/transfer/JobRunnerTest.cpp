#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "JobFixture.h"
#include "transfer/FileMove.h"
#include "transfer/ReceiveRun.h"

namespace edi {
namespace {

namespace fs = std::filesystem;
using test::JobTest;

class JobRunTest : public JobTest {
protected:
    void FailInsertOf(const char* kind) {
        Exec(std::string("CREATE TRIGGER refuse") + kind +
             " BEFORE INSERT ON FL1102処理履歴ファイル WHEN NEW.処理種別 = '" + kind +
             "' BEGIN SELECT RAISE(ABORT, 'refused'); END");
    }
};

TEST_F(JobRunTest, AllStagesWellShowOkThreeTimesAndDone) {
    LinkCenter("ABC");
    runner_->RunJob();
    const std::vector<std::string> events = {"0 state 1", "0:4 受信中", "0:4 OK", "0:5 変換中",
                                             "0:5 OK",    "0:6 登録中", "0:6 OK", "0 state 2"};
    EXPECT_EQ(display_.events, events);
    const CenterEntry& row = work_.Centers[0];
    EXPECT_EQ(row.ReceiveStatus + row.ConversionStatus + row.RegistrationStatus + std::to_string(row.RowState),
              "OKOKOK2");
    const std::vector<std::string> history = {
        "0 03 0000 0000  ",
        "1 10 0000 0000 " + Folder("in") + "00000001_RCV_ABC_________.CII",
        "2 31 0000 0000 " + Folder("in") + "00000001_RCV_ABC_________.CII",
        "3 41 00 0000 F:/HIST/00000001_RCV_ABC_________KIND.TXT",
    };
    EXPECT_EQ(History(1), history);
    for (const std::string name : {"00000001_RCV_ABC_________.CII", "00000001_RCV_ABC_________01.LOC"}) {
        EXPECT_EQ(Content("old/" + name), "message of ABC");
        EXPECT_EQ(Content("in/" + name), "message of ABC") << "the archive copy leaves the source";
    }
}

// A refused receive row leaves the job open for the next run to carry on and still archives what
// the job had; a refused job row leaves it unnumbered. Either way the link file and the later
// cells stay.
TEST_F(JobRunTest, RefusedHistoryRowStopsTheJobAndLosesNothing) {
    const struct {
        const char* kind;
        std::vector<std::string> events;
        std::vector<std::string> history;
        bool archived;  // the job's earlier file checked in the archive
    } cases[] = {
        {"10", {"0 state 1", "0:4 受信中", "0:4 受信ｴﾗｰ", "0 state 9"}, {"0 03 - - -"}, true},
        {"03", {"0 state 1", "0:4 通番ｴﾗｰ", "0 state 9"}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        Reset();
        LinkCenter("ABC");
        work_.Centers[0].ConversionStatus = "earlier";
        work_.Centers[0].RegistrationStatus = "earlier too";
        test::WriteFile(Folder("in") + "00000001_RCV_A.CII", std::string_view("already here"));
        FailInsertOf(c.kind);  // a trigger per kind: the one refusing "10" stays, "03" comes first
        runner_->RunJob();
        EXPECT_EQ(display_.events, c.events);
        EXPECT_EQ(work_.Centers[0].ConversionStatus + work_.Centers[0].RegistrationStatus, "earlierearlier too");
        EXPECT_TRUE(converters_.local_calls.empty() && starter_.commands.empty());
        EXPECT_EQ(History(1), c.history);
        EXPECT_EQ(runner_->outcome().stage, "database");
        EXPECT_EQ(Content("link/ABC.dat"), "message of ABC");
        if (c.archived) {
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

TEST_F(JobRunTest, MissingArchiveFolderIsReportedAndTheJobStillCloses) {
    LinkCenter("ABC");
    work_.OLD_FILE = Folder("no-archive");
    runner_->RunJob();
    EXPECT_EQ(work_.Centers[0].RowState, 2);
    EXPECT_EQ(HistoryValues(1, 0, {"終了コード", "処理終了時刻"}), "0000 10:20:30");
    EXPECT_NE(Content("ERR.LOG").find("no-archive"), std::string::npos) << Content("ERR.LOG");
    EXPECT_TRUE(fs::exists(Folder("in") + "00000001_RCV_ABC_________.CII"));
}

TEST_F(JobRunTest, DatabaseStoppedBetweenStagesLosesNothingAndTheNextRunWorks) {
    LinkCenter("ABC");
    display_.on_status = [this](int column, const std::string& text) {
        if (column == kConversionColumn && text == "変換中") work_.Db.reset();
    };
    runner_->RunJob();
    EXPECT_EQ(work_.Centers[0].ConversionStatus + std::to_string(work_.Centers[0].RowState), "変換ｴﾗｰ9");
    EXPECT_EQ(Content("in/00000001_RCV_ABC_________.CII"), "message of ABC");
    EXPECT_EQ(Content("old/00000001_RCV_ABC_________.CII"), "message of ABC");

    display_.on_status = nullptr;
    ASSERT_TRUE(db_->Connect(work_));
    // The job row stays open as the stopped database left it, and so does the receive row: its
    // close was to reach the disk with the conversion's row, before the converter ran.
    EXPECT_EQ(HistoryValues(1, 0, {"終了コード"}) + HistoryValues(1, 1, {"処理終了時刻"}), "<null><null>");
    test::WriteFile(Folder("link") + "ABC.dat", std::string_view("next"));
    work_.Centers[0].RowState = 0;
    runner_->RunJob();
    EXPECT_EQ(work_.Centers[0].RowState, 2);
    EXPECT_EQ(HistoryValue(2, 0, "終了コード"), "0000");
    EXPECT_EQ(Content("in/00000002_RCV_ABC_________01.LOC"), "next");
}

TEST_F(JobRunTest, RunNowTakesWaitingMarkedRowsInGridOrder) {
    for (const char* code : {"A1", "A2", "A3"}) LinkCenter(code);
    work_.Centers[1].RunFlag = false;
    const std::atomic<bool> stop{false};
    ReceiveRun run(work_, *runner_, stop);
    run.Run(WaitingMarkedRows(work_));
    const std::vector<int> states = {work_.Centers[0].RowState, work_.Centers[1].RowState, work_.Centers[2].RowState};
    EXPECT_EQ(states, (std::vector<int>{2, 0, 2}));
    EXPECT_EQ(HistoryValue(2, 0, "センターコード"), "A3");
    EXPECT_EQ(WaitingMarkedRows(work_), std::vector<int>{}) << "rows that ran are not run again";
    EXPECT_EQ(MarkedRows(work_), (std::vector<int>{0, 2})) << "the armed schedule runs them all again";
}

TEST_F(JobRunTest, MissingRegistrationProgramIsRecordedAndTheNextRunRegisters) {
    LinkCenter("ABC");
    SpawnProcessStarter spawn(work_.EDIINFIL);
    JobRunner runner(work_, clock_, boxes_, progress_, display_, converters_, spawn);
    const auto write_ini = [this](const std::string& command) {
        test::WriteEdiIni(dir_ / "EDI.ini",
                          {{"PATH", {"PRPATH=" + Folder("pr"), "STPATH=" + Folder("st"), "MGCMDLINEZR=" + command}},
                           {"JKBN_Z_J", {"01"}}});
    };
    write_ini(Folder("nowhere") + "edireg");
    runner.RunJob();
    // The stage row holds the failure; the stage itself ended, so the row shows OK.
    EXPECT_EQ(HistoryValues(1, 3, {"終了コード", "詳細コード"}), "4100 0002");
    EXPECT_EQ(work_.Centers[0].RegistrationStatus, "OK");
    EXPECT_TRUE(fs::exists(Folder("in") + "00000001_RCV_ABC_________01.LOC"));

    work_.MGSTPATH = Folder("st");
    // The program finds the local files through EDI_IN, set to the receive folder for it.
    write_ini(K500100_EDIREG);
    test::WriteFile(Folder("link") + "ABC.dat", std::string_view("line 1\r\nline 2\r\n"));
    work_.Centers[0].RowState = 0;
    runner.RunJob();
    EXPECT_EQ(HistoryValues(2, 3, {"終了コード", "入力レコード数", "相手先企業コード"}), "00 2 123456789012");
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
