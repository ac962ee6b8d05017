#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "startup/DbSession.h"
#include "startup/SqlScript.h"
#include "support/DbTestSupport.h"
#include "transfer/ProcessHistory.h"

extern char** environ;

namespace edi {
namespace {

using test::DbFixture;

const LocalDateTime kStart{2026, 12, 5, 9, 8, 7};
const LocalDateTime kEnd{2026, 12, 6, 23, 59, 58};

HistoryStart JobStart(const std::string& center) {
    HistoryStart record;
    record.送受信種別 = "R";
    record.相手先種別 = "2";
    record.処理種別 = "03";
    record.センターコード = center;
    return record;
}

template <typename B>
class ProcessHistoryTest : public DbFixture<B> {
protected:
    void Row(int serial, int branch) {
        this->Exec("INSERT INTO FL1102処理履歴ファイル (通番, 枝番) VALUES (" + std::to_string(serial) + ", " +
                   std::to_string(branch) + ")");
    }
    std::string Column(int serial, int branch, const char* column) {
        return this->Scalar("SELECT * FROM FL1102処理履歴ファイル WHERE 通番 = " + std::to_string(serial) +
                                " AND 枝番 = " + std::to_string(branch),
                            column);
    }
    std::string RowCount() { return this->Scalar("SELECT COUNT(*) AS n FROM FL1102処理履歴ファイル", "n"); }

    test::FixedClock clock_{kStart};
};
TYPED_TEST_SUITE(ProcessHistoryTest, test::DbBackends, test::DbBackendNames);

TYPED_TEST(ProcessHistoryTest, EmptyTableGivesSerialOneAndBranchOne) {
    HistoryStart job = JobStart("CENTER01");
    OpenJobHistory(this->work_, job, this->clock_);
    EXPECT_EQ(job.Result, "0000");
    EXPECT_EQ(job.通番, 1);
    HistoryStart stage = JobStart("CENTER01");
    stage.処理種別 = "10";
    stage.通番 = job.通番;
    OpenStageHistory(this->work_, stage, this->clock_);
    EXPECT_EQ(stage.Result, "0000");
    EXPECT_EQ(stage.枝番, 1);

    struct Expected {
        int branch;
        const char* column;
        const char* value;
    };
    for (const Expected& e : std::vector<Expected>{{0, "送受信種別", "R"},
                                                   {0, "相手先種別", "2"},
                                                   {0, "処理種別", "03"},
                                                   {0, "処理開始日付", "2026/12/05"},
                                                   {0, "処理開始時刻", "09:08:07"},
                                                   {0, "センターコード", "CENTER01"},
                                                   {0, "処理終了日付", "<null>"},
                                                   {0, "終了コード", "<null>"},
                                                   {1, "処理種別", "10"},
                                                   {1, "処理開始時刻", "09:08:07"}}) {
        SCOPED_TRACE(std::string(e.column) + " of branch " + std::to_string(e.branch));
        EXPECT_EQ(this->Column(1, e.branch, e.column), e.value);
    }
}

TYPED_TEST(ProcessHistoryTest, NumbersFollowTheHighestRows) {
    this->Row(5, 0);
    this->Row(5, 1);
    this->Row(7, 0);
    HistoryStart job = JobStart("C");
    OpenJobHistory(this->work_, job, this->clock_);
    EXPECT_EQ(job.Result, "0000");
    EXPECT_EQ(job.通番, 8);

    HistoryStart stage = JobStart("C");
    stage.通番 = 5;
    OpenStageHistory(this->work_, stage, this->clock_);
    EXPECT_EQ(stage.Result, "0000");
    EXPECT_EQ(stage.枝番, 2);
    EXPECT_EQ(NextBranchNumber(this->work_, 5), std::optional<std::int16_t>(3));
    EXPECT_EQ(NextBranchNumber(this->work_, 6), std::optional<std::int16_t>(1));
    EXPECT_EQ(this->RowCount(), "5");
}

TYPED_TEST(ProcessHistoryTest, StageStoresSpaceForEmptyKindsAndCenterCodeAsGiven) {
    this->Row(3, 0);
    HistoryStart stage;
    stage.通番 = 3;
    stage.センターコード = "A'B";
    OpenStageHistory(this->work_, stage, this->clock_);
    ASSERT_EQ(stage.Result, "0000");
    EXPECT_EQ(stage.送受信種別, " ");
    EXPECT_EQ(stage.相手先種別, " ");
    EXPECT_EQ(stage.処理種別, " ");
    EXPECT_EQ(this->Column(3, 1, "処理種別"), " ");
    EXPECT_EQ(this->Column(3, 1, "送受信種別"), " ");
    EXPECT_EQ(this->Column(3, 1, "センターコード"), "A'B");

    HistoryStart job = JobStart("X');DROP--");
    OpenJobHistory(this->work_, job, this->clock_);
    ASSERT_EQ(job.Result, "0000");
    EXPECT_EQ(this->Column(4, 0, "センターコード"), "X');DROP--");
    EXPECT_EQ(this->RowCount(), "3");
}

TYPED_TEST(ProcessHistoryTest, CloseWritesValuesAndDefaultsBack) {
    this->Row(9, 0);
    this->Row(9, 1);
    this->clock_.Set(kEnd);
    HistoryEnd end;
    end.通番 = 9;
    end.枝番 = 1;
    end.取引情報区分 = "KIND";
    end.入力レコード数 = 10;
    end.出力レコード数 = 9;
    end.入力ファイルサイズ = 2048;
    end.ファイル名 = "/in/00000009_RCV_A'B.CII";
    CloseHistory(this->work_, end, this->clock_);
    EXPECT_EQ(end.Result, "0000");
    EXPECT_EQ(end.終了コード, "0000");
    EXPECT_EQ(end.詳細コード, "0000");
    EXPECT_EQ(end.相手先企業コード, " ");
    EXPECT_EQ(end.BPID, " ");
    EXPECT_EQ(end.格納モード, " ");
    EXPECT_EQ(end.取引情報区分, "KIND");

    struct Expected {
        const char* column;
        const char* value;
    };
    for (const Expected& e : std::vector<Expected>{{"処理終了日付", "2026/12/06"},
                                                   {"処理終了時刻", "23:59:58"},
                                                   {"終了コード", "0000"},
                                                   {"詳細コード", "0000"},
                                                   {"相手先企業コード", " "},
                                                   {"BPID", " "},
                                                   {"格納モード", " "},
                                                   {"取引情報区分", "KIND"},
                                                   {"最終シーケンス番号", "0"},
                                                   {"入力レコード数", "10"},
                                                   {"入力ファイルサイズ", "2048"},
                                                   {"出力レコード数", "9"},
                                                   {"出力ファイルサイズ", "0"},
                                                   {"ファイル名", "/in/00000009_RCV_A'B.CII"}}) {
        SCOPED_TRACE(e.column);
        EXPECT_EQ(this->Column(9, 1, e.column), e.value);
    }
    EXPECT_EQ(this->Column(9, 0, "終了コード"), "<null>");

    HistoryEnd job;
    job.通番 = 9;
    job.終了コード = "5001";
    job.詳細コード = "9999";
    CloseHistory(this->work_, job, this->clock_);
    EXPECT_EQ(job.Result, "0000");
    EXPECT_EQ(this->Column(9, 0, "終了コード"), "5001");
    EXPECT_EQ(this->Column(9, 0, "詳細コード"), "9999");
}

TYPED_TEST(ProcessHistoryTest, ZeroSerialAndMissingRowChangeNothing) {
    this->Row(2, 0);
    HistoryEnd zero;
    zero.終了コード = "";
    CloseHistory(this->work_, zero, this->clock_);
    EXPECT_EQ(zero.Result, "9999");
    EXPECT_EQ(zero.終了コード, "");

    HistoryEnd missing;
    missing.通番 = 2;
    missing.枝番 = 4;
    CloseHistory(this->work_, missing, this->clock_);
    EXPECT_EQ(missing.Result, "");
    EXPECT_EQ(missing.終了コード, "9999");
    EXPECT_EQ(missing.詳細コード, "");  // no defaults for a row that is not there

    HistoryStart stage;
    stage.通番 = 0;
    OpenStageHistory(this->work_, stage, this->clock_);
    EXPECT_EQ(stage.Result, "9999");
    EXPECT_EQ(stage.処理種別, "");
    EXPECT_EQ(this->RowCount(), "1");
    EXPECT_EQ(this->Column(2, 0, "処理終了日付"), "<null>");
}

TYPED_TEST(ProcessHistoryTest, BranchPastTheSixteenBitRangeFailsTheStage) {
    this->Row(6, 0);
    this->Row(6, 32767);
    EXPECT_EQ(NextBranchNumber(this->work_, 6), std::nullopt);
    HistoryStart stage = JobStart("C");
    stage.通番 = 6;
    OpenStageHistory(this->work_, stage, this->clock_);
    EXPECT_EQ(stage.Result, "9999");
    EXPECT_EQ(this->RowCount(), "2");
}

TYPED_TEST(ProcessHistoryTest, DatabaseFailureGivesGeneralFailure) {
    this->Row(1, 0);
    this->Exec("DROP TABLE FL1102処理履歴ファイル");
    HistoryStart job = JobStart("C");
    OpenJobHistory(this->work_, job, this->clock_);
    EXPECT_EQ(job.Result, "9999");
    HistoryStart stage = JobStart("C");
    stage.通番 = 1;
    OpenStageHistory(this->work_, stage, this->clock_);
    EXPECT_EQ(stage.Result, "9999");
    EXPECT_EQ(NextBranchNumber(this->work_, 1), std::nullopt);
    HistoryEnd end;
    end.通番 = 1;
    CloseHistory(this->work_, end, this->clock_);
    EXPECT_EQ(end.Result, "9999");

    WorkArea no_session;
    OpenJobHistory(no_session, job, this->clock_);
    EXPECT_EQ(job.Result, "9999");
}

// Another terminal that wins the race: every time the open reads the clock, just before its
// insert, a second session inserts the row the open is about to write.
class RacingClock final : public Clock {
public:
    RacingClock(WorkArea& other, std::string steal, int races)
        : other_(other), steal_(std::move(steal)), races_(races) {}
    LocalDateTime Now() const override {
        if (races_ > 0) {
            --races_;
            other_.SqlText = steal_;
            EXPECT_TRUE(ExecuteSql(other_)) << other_.Db->LastError();
        }
        return kStart;
    }

private:
    WorkArea& other_;
    std::string steal_;
    mutable int races_;
};

TYPED_TEST(ProcessHistoryTest, TakenNumbersAreSkippedAndRetriesAreBounded) {
    WorkArea other;
    ASSERT_TRUE(this->db_->Connect(other));
    const std::string steal_serial =
        "INSERT INTO FL1102処理履歴ファイル (通番, 枝番, センターコード) "
        "SELECT COALESCE(MAX(通番), 0) + 1, 0, 'OTHER' FROM FL1102処理履歴ファイル";
    RacingClock two_races(other, steal_serial, 2);
    HistoryStart job = JobStart("MINE");
    OpenJobHistory(this->work_, job, two_races);
    EXPECT_EQ(job.Result, "0000");
    EXPECT_EQ(job.通番, 3);
    EXPECT_EQ(this->Column(3, 0, "センターコード"), "MINE");
    EXPECT_EQ(this->Column(2, 0, "センターコード"), "OTHER");

    const std::string steal_branch =
        "INSERT INTO FL1102処理履歴ファイル (通番, 枝番, センターコード) "
        "SELECT 3, COALESCE(MAX(枝番), 0) + 1, 'OTHER' FROM FL1102処理履歴ファイル WHERE 通番 = 3";
    RacingClock one_race(other, steal_branch, 1);
    HistoryStart stage = JobStart("MINE");
    stage.通番 = 3;
    OpenStageHistory(this->work_, stage, one_race);
    EXPECT_EQ(stage.Result, "0000");
    EXPECT_EQ(stage.枝番, 2);
    EXPECT_EQ(this->Column(3, 2, "センターコード"), "MINE");

    RacingClock always(other, steal_serial, 1000);
    HistoryStart lost = JobStart("MINE");
    test::TempDir dir;
    this->work_.Log.file = dir / "ERR.LOG";
    OpenJobHistory(this->work_, lost, always);
    EXPECT_EQ(lost.Result, "9999");
    // The taken numbers are no failure of their own; giving up is, and says why once.
    const std::string log = ToUnicodeText(test::ReadText(dir / "ERR.LOG"));
    EXPECT_EQ(log.rfind("9999the key is already taken: adding a job row", 0), 0u) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_EQ(this->Scalar("SELECT COUNT(*) AS n FROM FL1102処理履歴ファイル WHERE センターコード = 'MINE'", "n"), "2");
}

pid_t Spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

// Waits for the process; kills it and reports -1 when it runs past the deadline.
int WaitFor(pid_t pid, std::chrono::steady_clock::time_point deadline) {
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ProcessHistoryPostgresTest : public DbFixture<test::PostgresBackend> {};

TEST_F(ProcessHistoryPostgresTest, TerminalsOpeningJobsAtOnceGetDistinctSerials) {
    constexpr int kWorkers = 4;
    constexpr int kJobsEach = 25;
    test::TempDir dir;
    std::vector<pid_t> workers;
    for (int i = 0; i < kWorkers; ++i) {
        const std::string n = std::to_string(i);
        workers.push_back(Spawn({K500100_HISTORY_WORKER, db_->ConnectString(), std::to_string(kJobsEach),
                                 (dir / ("ready" + n)).string(), (dir / "go").string()}));
        ASSERT_GT(workers.back(), 0);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (int i = 0; i < kWorkers; ++i) {
        while (!std::filesystem::exists(dir / ("ready" + std::to_string(i))) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    test::WriteFile(dir / "go", std::string_view("go"));
    for (const pid_t pid : workers) EXPECT_EQ(WaitFor(pid, deadline), 0) << "worker " << pid;

    EXPECT_EQ(Scalar("SELECT COUNT(*) AS n FROM FL1102処理履歴ファイル WHERE 枝番 = 0", "n"), "100");
    EXPECT_EQ(Scalar("SELECT COUNT(DISTINCT 通番) AS n FROM FL1102処理履歴ファイル", "n"), "100");
    EXPECT_EQ(Scalar("SELECT MAX(通番) AS n FROM FL1102処理履歴ファイル", "n"), "100");
}

TEST(ProcessHistoryServerLossTest, StoppedPostgresServerGivesFailureCodes) {
    test::OwnPgCluster cluster;
    ASSERT_TRUE(cluster.started()) << "cannot start a PostgreSQL cluster of its own";
    const test::PgCluster where = cluster.where();
    std::string error;
    WorkArea work;
    work.Db = DbSession::Open(test::PgConnectString(where, "postgres"), "PC01", error);
    ASSERT_NE(work.Db, nullptr) << error;
    ASSERT_TRUE(RunSqlScript(work, test::SchemaText(), error)) << error;
    test::FixedClock clock(kStart);
    HistoryStart job = JobStart("C");
    OpenJobHistory(work, job, clock);
    ASSERT_EQ(job.Result, "0000");

    cluster.Stop();

    HistoryStart next = JobStart("C");
    OpenJobHistory(work, next, clock);
    EXPECT_EQ(next.Result, "9999");
    HistoryStart stage = JobStart("C");
    stage.通番 = job.通番;
    OpenStageHistory(work, stage, clock);
    EXPECT_EQ(stage.Result, "9999");
    HistoryEnd end;
    end.通番 = job.通番;
    CloseHistory(work, end, clock);
    EXPECT_EQ(end.Result, "9999");
    work.SqlText = "SELECT * FROM FL1102処理履歴ファイル";
    ResultSet set;
    EXPECT_FALSE(OpenQuery(work, set));
    EXPECT_EQ(DbSession::Open(test::PgConnectString(where, "postgres"), "PC01", error), nullptr);
}

}  // namespace
}  // namespace edi
