// The database layer under faults, on both backends: values that could end a quoted text, a lock
// held by another session, and on PostgreSQL a refused password and a server stopped and started
// again. (Passwords that could add keys to the connect text: DbSessionTest.)
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "startup/CenterList.h"
#include "startup/DbSession.h"
#include "startup/SqlScript.h"
#include "support/DbTestSupport.h"
#include "support/Masters.h"
#include "transfer/JobRunner.h"
#include "transfer/ProcessHistory.h"

namespace edi {
namespace {

using namespace std::chrono_literals;
using test::DbFixture;

const LocalDateTime kNow{2026, 12, 5, 9, 8, 7};

std::string LogText(const std::filesystem::path& file) { return ToUnicodeText(test::ReadText(file)); }

template <typename B>
class DatabaseFaultTest : public DbFixture<B> {
protected:
    void SetUp() override {
        DbFixture<B>::SetUp();
        this->work_.Log.file = dir_ / "ERR.LOG";
    }
    bool Postgres() const { return B::kBackend == test::Backend::kPostgres; }

    test::TempDir dir_;
    test::FixedClock clock_{kNow};
};
TYPED_TEST_SUITE(DatabaseFaultTest, test::DbBackends, test::DbBackendNames);

TYPED_TEST(DatabaseFaultTest, OddValuesAreStoredAndFoundAsTheyAreWhateverTheServerSays) {
    // Every new session of this database is told to take a backslash in a text as an escape.
    if (this->Postgres()) {
        this->Exec("ALTER DATABASE " + this->db_->pg_database() + " SET standard_conforming_strings = off");
    }
    WorkArea work;
    ASSERT_TRUE(this->db_->Connect(work));
    // The center's code, and so its name, end in a backslash.
    const std::string center = "\\'); --\\";
    const std::string terminal = "PC\\01";
    const std::string file = "C:\\in\\00000001_RCV_{d '2026-01-02'}?.CII";
    const std::string link = "\\\\server\\link\\in.cii";
    work.SqlText = test::CenterSql({.code = center, .link_path = link, .terminal = terminal});
    ASSERT_TRUE(ExecuteSql(work)) << work.Db->LastError();

    work.TerminalName = terminal;
    test::RecordedMessageBoxes boxes;
    ASSERT_EQ(LoadCenters(work, boxes), "0000");
    ASSERT_EQ(work.Centers.size(), 1u);
    EXPECT_EQ(work.Centers[0].CenterCode, center);
    EXPECT_EQ(work.Centers[0].CenterName, "名称" + center);

    HistoryStart job = ReceiveHistoryStart(0, kKindJob, center);
    OpenJobHistory(work, job, this->clock_);
    ASSERT_EQ(job.Result, "0000") << work.Db->LastError();
    HistoryEnd end;
    end.通番 = job.通番;
    end.ファイル名 = file;
    CloseHistory(work, end, this->clock_);
    ASSERT_EQ(end.Result, "0000") << work.Db->LastError();
    // A text that ends in a backslash ahead of a date escape in the same statement.
    work.SqlText = "INSERT INTO FL1102処理履歴ファイル (通番, 枝番, センターコード, 処理開始日付) VALUES (2, 0, " +
                   SqlQuote(center) + ", " + SqlDate(kNow) + ")";
    ASSERT_TRUE(ExecuteSql(work)) << work.Db->LastError();

    const std::string rows =
        "SELECT * FROM FL1102処理履歴ファイル WHERE センターコード = " + SqlQuote(center) + " ORDER BY 通番";
    EXPECT_EQ(this->Scalar(rows, "ファイル名"), file);
    EXPECT_EQ(this->Scalar("SELECT COUNT(*) AS n FROM FL1102処理履歴ファイル WHERE センターコード = " +
                               SqlQuote(center) + " AND 処理開始日付 = " + SqlDate(kNow),
                           "n"),
              "2");
    CenterRow row;
    EXPECT_EQ(ReadCenterRow(work, center, row), "0000");
    EXPECT_EQ(row.センターコード, center);
    EXPECT_EQ(row.TCX受信ファイルパス, link);
}

TYPED_TEST(DatabaseFaultTest, HeldLockGivesTheBusyFailureWithinTheBound) {
    constexpr auto kWait = 1000ms;
    std::string error;
    this->work_.Db = DbSession::Open(this->db_->ConnectString(), "PC01", error, kWait);
    ASSERT_NE(this->work_.Db, nullptr) << error;
    WorkArea other;
    ASSERT_TRUE(this->db_->Connect(other));
    for (const char* sql : this->Postgres() ? std::vector<const char*>{"BEGIN",
                                                                       "LOCK TABLE FL1102処理履歴ファイル, "
                                                                       "FL1903EDI制御マスタ IN ACCESS EXCLUSIVE MODE"}
                                            : std::vector<const char*>{"BEGIN EXCLUSIVE"}) {
        other.SqlText = sql;
        ASSERT_TRUE(ExecuteSql(other)) << other.Db->LastError();
    }

    const auto start = std::chrono::steady_clock::now();
    HistoryStart job = ReceiveHistoryStart(0, kKindJob, "C1");
    OpenJobHistory(this->work_, job, this->clock_);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(job.Result, "9999");
    EXPECT_EQ(this->work_.Db->LastFailure(), DbFailure::kBusy);
    EXPECT_GE(waited, kWait / 2);
    EXPECT_LT(waited, kWait * 3) << "bounded by the busy wait, not the query time-out";
    const std::string log = LogText(this->work_.Log.file);
    EXPECT_EQ(log.rfind("9999the database is busy: ", 0), 0u) << log;
    EXPECT_NE(log.find("FL1102処理履歴ファイル"), std::string::npos) << log;

    // Start-up keeps its fixed message for a busy database; the log says it was busy, within the
    // wait. SQLite's write-ahead log lets every session read while another writes: there the
    // centers are read at once (this terminal has none).
    test::RecordedMessageBoxes boxes;
    this->work_.TerminalName = "TESTTERM";
    const auto read_start = std::chrono::steady_clock::now();
    EXPECT_EQ(LoadCenters(this->work_, boxes), "9999");
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_STREQ(boxes.shown()[0].text.c_str(), kNoCenterData);
    EXPECT_EQ(this->work_.Db->LastFailure(), this->Postgres() ? DbFailure::kBusy : DbFailure::kNone);
    if (!this->Postgres()) {
        EXPECT_LT(std::chrono::steady_clock::now() - read_start, kWait / 2);
    }

    other.Db.reset();  // the lock ends with its session
    OpenJobHistory(this->work_, job, this->clock_);
    EXPECT_EQ(job.Result, "0000") << this->work_.Db->LastError();
    EXPECT_EQ(this->work_.Db->LastFailure(), DbFailure::kNone);
}

TEST(PostgresOutageTest, ReasonsAreLoggedAndALostConnectionIsOpenedOnceAgain) {
    test::OwnPgCluster cluster;
    ASSERT_TRUE(cluster.started()) << "cannot start a PostgreSQL cluster of its own";
    test::TempDir dir;
    // A data source of the cluster's postgres database in an odbc.ini of its own.
    test::WriteFile(dir / "odbc.ini",
                    "[K500100OUTAGE]\nDriver = PostgreSQL Unicode\nServername = " + cluster.where().host +
                        "\nPort = " + cluster.where().port + "\nDatabase = postgres\n");
    setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
    WorkArea admin;
    admin.TerminalName = "PC01";
    admin.DbSource = "K500100OUTAGE";
    admin.DbUser = "postgres";
    ASSERT_TRUE(ConnectDatabase(admin));
    // A role that signs on with a password holding ";", "}" and "{".
    const std::string password = "p;w}x{y";
    admin.SqlText = "CREATE ROLE k500100pw LOGIN SUPERUSER PASSWORD " + SqlQuote(password);
    ASSERT_TRUE(ExecuteSql(admin)) << admin.Db->LastError();
    {
        const std::filesystem::path hba = cluster.data_dir() / "pg_hba.conf";
        const std::string rules = test::ReadText(hba);
        test::WriteFile(hba, "host all k500100pw 127.0.0.1/32 scram-sha-256\n" + rules);
    }
    admin.SqlText = "SELECT pg_reload_conf()";
    ASSERT_TRUE(ExecuteSql(admin)) << admin.Db->LastError();
    std::string error;
    ASSERT_TRUE(RunSqlScript(admin, test::SchemaText(), error)) << error;

    WorkArea work;
    work.TerminalName = "PC01";
    work.DbSource = "K500100OUTAGE";
    work.DbUser = "k500100pw";
    work.DbPassword = "wrong";
    work.Log.file = dir / "ERR.LOG";
    std::string reason;
    EXPECT_FALSE(ConnectDatabase(work, reason));
    EXPECT_NE(reason.find("password authentication failed"), std::string::npos) << reason;
    EXPECT_NE(LogText(work.Log.file).find(reason), std::string::npos);
    work.DbPassword = password;
    ASSERT_TRUE(ConnectDatabase(work, reason)) << reason;

    test::FixedClock clock(kNow);
    HistoryStart job = ReceiveHistoryStart(0, kKindJob, "C1");
    OpenJobHistory(work, job, clock);
    ASSERT_EQ(job.Result, "0000");
    work.SqlText = "SELECT * FROM FL1102処理履歴ファイル WHERE 通番 = 1";
    ResultSet before;
    ASSERT_TRUE(OpenQueryForUpdate(work, before));

    // The server goes down: the statement fails as lost, and while it is down the session
    // cannot be opened again, nor can a new one; the reasons are logged.
    ASSERT_TRUE(cluster.Pause());
    OpenJobHistory(work, job, clock);
    EXPECT_EQ(job.Result, "9999");
    EXPECT_EQ(work.Db->LastFailure(), DbFailure::kLost);
    EXPECT_FALSE(EnsureDatabase(work));
    EXPECT_NE(work.Db->LastReport().find("Connection refused"), std::string::npos) << work.Db->LastReport();
    WorkArea late;
    late.DbSource = "K500100OUTAGE";
    EXPECT_FALSE(ConnectDatabase(late, reason));
    EXPECT_NE(reason.find("Connection refused"), std::string::npos) << reason;
    const std::string log = LogText(work.Log.file);
    EXPECT_NE(log.find("9999the connection to the database is lost: reading FL1102処理履歴ファイル: "),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find(password), std::string::npos) << "the password stays out of the log";

    // Back up: the session is opened once more and the next job gets the next serial.
    ASSERT_TRUE(cluster.Resume());
    EXPECT_TRUE(EnsureDatabase(work)) << work.Db->LastReport();
    OpenJobHistory(work, job, clock);
    EXPECT_EQ(job.Result, "0000");
    EXPECT_EQ(job.通番, 2);
    EXPECT_NE(LogText(work.Log.file).find("0000the connection to the database was opened again"), std::string::npos);
    // A set of the old connection does not write through the new one.
    EXPECT_TRUE(before.SetValue("終了コード", std::string("0000")));
    EXPECT_FALSE(before.Update());

    // A restart between two jobs, with no statement in between, is found before the next job.
    ASSERT_TRUE(cluster.Pause());
    ASSERT_TRUE(cluster.Resume());
    EXPECT_TRUE(EnsureDatabase(work)) << work.Db->LastReport();
    OpenJobHistory(work, job, clock);
    EXPECT_EQ(job.Result, "0000");
    EXPECT_EQ(job.通番, 3);
}

}  // namespace
}  // namespace edi
