// The database layer under faults, on both backends: values that could end a quoted text, a lock
// held by another session, and on PostgreSQL a refused password and a server stopped and started
// again. (Passwords that could add keys to the connect text: DbSessionTest.)
// A run whose database fails under it, on both backends: gone in the middle of a conversion or
// while the registration program runs, refusing to close rows, locked by another session. The
// run stops at the job that met the failure, says why and takes no further file; once the fault
// is gone the next run carries that job on, and every message is registered once.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>

#include "JobFixture.h"
#include "convert/codec/Codec.h"
#include "startup/CenterList.h"
#include "startup/DbSession.h"
#include "startup/SqlScript.h"
#include "transfer/ProcessHistory.h"

namespace edi {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const LocalDateTime kNow{2026, 12, 5, 9, 8, 7};
constexpr auto kWait = 1000ms;  // the busy wait of the sessions here

std::string LogText(const std::filesystem::path& file) { return ToUnicodeText(test::ReadText(file)); }

template <typename B>
class DatabaseFaultTest : public test::JobFixture<B> {};
TYPED_TEST_SUITE(DatabaseFaultTest, test::DbBackends, test::DbBackendNames);

TYPED_TEST(DatabaseFaultTest, OddValuesAreStoredAndFoundAsTheyAreWhateverTheServerSays) {
    // Every new session of this database is told to take a backslash in a text as an escape.
    if (TypeParam::kBackend == test::Backend::kPostgres) {
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
    ASSERT_EQ(LoadCenters(work, this->boxes_), "0000");
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

    EXPECT_EQ(this->HistoryValue(job.通番, 0, "ファイル名"), file);
    EXPECT_EQ(this->Count("センターコード = " + SqlQuote(center) + " AND 処理開始日付 = " + SqlDate(kNow)), "2");
    CenterRow row;
    EXPECT_EQ(ReadCenterRow(work, center, row), "0000");
    EXPECT_EQ(row.センターコード, center);
    EXPECT_EQ(row.TCX受信ファイルパス, link);
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
    const std::filesystem::path hba = cluster.data_dir() / "pg_hba.conf";
    test::WriteFile(hba, "host all k500100pw 127.0.0.1/32 scram-sha-256\n" + test::ReadText(hba));
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
    EXPECT_EQ(job.Result + " " + std::to_string(job.通番), "0000 2");
    EXPECT_NE(LogText(work.Log.file).find("0000the connection to the database was opened again"), std::string::npos);

    // A restart between two jobs, with no statement in between, is found before the next job.
    ASSERT_TRUE(cluster.Pause());
    ASSERT_TRUE(cluster.Resume());
    EXPECT_TRUE(EnsureDatabase(work)) << work.Db->LastReport();
    OpenJobHistory(work, job, clock);
    EXPECT_EQ(job.Result + " " + std::to_string(job.通番), "0000 3");
}

using Clock = std::chrono::steady_clock;

enum class Fault { kGone, kClosesRefused, kLocked, kReceiveCommitRefused, kRegistrationCommitRefused };
enum class At { kStart, kConversion, kRegistration, kSecondReceive };

struct Case {
    const char* name;
    Fault fault;
    At at;       // when the fault comes: before the run, or in job 1's stage, or as job 2's receive begins
    bool brief;  // the fault is gone again as the stage fails, before the job's own row is closed
    DbFailure sqlite;
    DbFailure postgres;
    int left_open;                     // the job the failure left open; the run reported as many jobs
    std::size_t registrations;         // of the stopped run
    bool link_kept;                    // the left job's link file is still where the link package put it
    std::vector<std::string> history;  // the left job's rows once carried on
};

// What makes a fault and takes it away again, run through the run's own session. A commit that
// holds a row of the kind fails when the row brings a reference to nothing, checked at the commit.
// SQLite has no server to lose: its session can no longer write its file instead, as on a
// read-only or full disk (its write-ahead log is open already, so nothing done to the file's
// names would reach it).
std::pair<std::vector<std::string>, std::vector<std::string>> FaultStatements(Fault fault, bool postgres) {
    if (fault == Fault::kGone) return {{"PRAGMA query_only = 1"}, {"PRAGMA query_only = 0"}};
    if (fault == Fault::kClosesRefused && postgres) {
        return {{"CREATE OR REPLACE FUNCTION refuse_close() RETURNS trigger LANGUAGE plpgsql AS "
                 "'BEGIN RAISE EXCEPTION ''closing rows refused''; END'",
                 "CREATE TRIGGER refuse_close BEFORE UPDATE ON FL1102処理履歴ファイル FOR EACH ROW EXECUTE FUNCTION "
                 "refuse_close()"},
                {"DROP TRIGGER refuse_close ON FL1102処理履歴ファイル"}};
    }
    if (fault == Fault::kClosesRefused) {
        return {{"CREATE TRIGGER refuse_close BEFORE UPDATE ON FL1102処理履歴ファイル BEGIN SELECT RAISE(ABORT, "
                 "'closing rows refused'); END"},
                {"DROP TRIGGER refuse_close"}};
    }
    if (fault == Fault::kLocked) return {};
    const std::string when =
        std::string("NEW.処理種別 = '") + (fault == Fault::kReceiveCommitRefused ? "10" : "41") + "'";
    std::vector<std::string> on = {
        "CREATE TABLE refuse_parent (id INTEGER PRIMARY KEY)",
        "CREATE TABLE refuse_child (id INTEGER REFERENCES refuse_parent (id) DEFERRABLE INITIALLY DEFERRED)"};
    if (!postgres) {
        on.insert(on.begin(), "PRAGMA foreign_keys = 1");
        on.push_back("CREATE TRIGGER refuse_commit AFTER INSERT ON FL1102処理履歴ファイル WHEN " + when +
                     " BEGIN INSERT INTO refuse_child VALUES (1); END");
        return {on, {"DROP TRIGGER refuse_commit", "DROP TABLE refuse_child", "DROP TABLE refuse_parent"}};
    }
    on.push_back(
        "CREATE FUNCTION refuse_commit() RETURNS trigger LANGUAGE plpgsql AS "
        "'BEGIN INSERT INTO refuse_child VALUES (1); RETURN NULL; END'");
    on.push_back("CREATE TRIGGER refuse_commit AFTER INSERT ON FL1102処理履歴ファイル FOR EACH ROW WHEN (" + when +
                 ") EXECUTE FUNCTION refuse_commit()");
    return {on,
            {"DROP TRIGGER refuse_commit ON FL1102処理履歴ファイル", "DROP FUNCTION refuse_commit()",
             "DROP TABLE refuse_child", "DROP TABLE refuse_parent"}};
}

const std::vector<std::string> kPlain = {"0 03 0000 8100", "1 10 0000 0000", "2 31 0000 0000", "3 41 00 0000"};

template <typename B>
class RunDatabaseFaultTest : public test::JobFixture<B> {
public:
    // PostgreSQL runs in a cluster of the suite's own, which it may stop and start again.
    static void SetUpTestSuite() {
        if (B::kBackend != test::Backend::kPostgres) return;
        if (const char* state = std::getenv("K500100_PG_STATE")) saved_state_ = state;
        cluster_ = std::make_unique<test::OwnPgCluster>();
        if (cluster_->started()) setenv("K500100_PG_STATE", cluster_->state_file().c_str(), 1);
    }
    static void TearDownTestSuite() {
        saved_state_ ? setenv("K500100_PG_STATE", saved_state_->c_str(), 1) : unsetenv("K500100_PG_STATE");
        cluster_.reset();
    }

protected:
    void SetUp() override {
        if (Postgres()) {
            ASSERT_TRUE(cluster_ && cluster_->started()) << "cannot start a PostgreSQL cluster of its own";
        }
        test::JobFixture<B>::SetUp();
        if (this->HasFatalFailure()) return;
        std::string error;
        this->work_.Db = DbSession::Open(this->db_->ConnectString(), "T1", error, kWait);
        ASSERT_NE(this->work_.Db, nullptr) << error;
    }
    void TearDown() override {
        other_.Db.reset();
        test::JobFixture<B>::TearDown();
    }
    static bool Postgres() { return B::kBackend == test::Backend::kPostgres; }

    void Inject(Fault fault) {
        if (fault == Fault::kGone && Postgres()) {
            ASSERT_TRUE(cluster_->Pause());
        } else if (fault == Fault::kLocked) {
            ASSERT_TRUE(this->db_->Connect(other_));
            for (const char* sql : Postgres() ? std::vector<const char*>{"BEGIN",
                                                                         "LOCK TABLE FL1102処理履歴ファイル IN "
                                                                         "ACCESS EXCLUSIVE MODE"}
                                              : std::vector<const char*>{"BEGIN EXCLUSIVE"}) {
                other_.SqlText = sql;
                ASSERT_TRUE(ExecuteSql(other_)) << other_.Db->LastError();
            }
        } else {
            for (const std::string& sql : FaultStatements(fault, Postgres()).first) this->Exec(sql);
        }
    }
    void Clear(Fault fault) {
        other_.Db.reset();  // the lock ends with its session
        if (fault == Fault::kGone && Postgres()) {
            ASSERT_TRUE(cluster_->Resume());
        } else {
            for (const std::string& sql : FaultStatements(fault, Postgres()).second) this->Exec(sql);
        }
    }

    // A fresh terminal of three link-package centers, A1 to A3, each with a message waiting.
    void Reset() {
        test::JobFixture<B>::Reset();
        fs::remove(this->work_.Log.file);
        this->StatusAnswer("1KIND12345678901200001000000900");
        this->converters_.on_local = nullptr;
        for (const char* code : {"A1", "A2", "A3"}) this->LinkCenter(code);
    }
    RunReport Run() { return this->RunRows(MarkedRows(this->work_)); }
    // What the local files hold, sorted: the message of every job that reached its registration.
    std::vector<std::string> LocalFiles() const {
        std::vector<std::string> held;
        for (const auto& entry : fs::directory_iterator(this->dir_ / "in")) {
            if (entry.path().extension() == ".LOC") held.push_back(test::ReadText(entry.path()));
        }
        std::sort(held.begin(), held.end());
        return held;
    }

    static inline std::unique_ptr<test::OwnPgCluster> cluster_;
    static inline std::optional<std::string> saved_state_;
    WorkArea other_;
};
TYPED_TEST_SUITE(RunDatabaseFaultTest, test::DbBackends, test::DbBackendNames);

TYPED_TEST(RunDatabaseFaultTest, TheRunStopsAtTheFailureAndTheNextRunRegistersEveryMessageOnce) {
    const std::vector<std::string> converted_again = {"0 03 0000 8100", "1 10 0000 0000", "2 31 8101 0000",
                                                      "3 31 0000 0000", "4 41 00 0000"};
    const Case cases[] = {
        {"gone during the conversion", Fault::kGone, At::kConversion, false, DbFailure::kOther, DbFailure::kLost, 1, 0,
         false, converted_again},
        {"gone while the registration program ran", Fault::kGone, At::kRegistration, false, DbFailure::kOther,
         DbFailure::kLost, 1, 1, false, kPlain},
        {"rows refused their close", Fault::kClosesRefused, At::kStart, false, DbFailure::kOther, DbFailure::kOther, 1,
         0, false, kPlain},
        {"the history locked by another session", Fault::kLocked, At::kSecondReceive, false, DbFailure::kBusy,
         DbFailure::kBusy, 2, 1, true, kPlain},
        {"the history locked during the conversion only", Fault::kLocked, At::kConversion, true, DbFailure::kBusy,
         DbFailure::kBusy, 1, 0, false, converted_again},
        // The row never reached the disk: the file it would have said was taken stays, the
        // program it would have said was started is not.
        {"the receive row refused at its commit", Fault::kReceiveCommitRefused, At::kStart, false, DbFailure::kOther,
         DbFailure::kOther, 1, 0, true, kPlain},
        {"the registration row refused at its commit", Fault::kRegistrationCommitRefused, At::kStart, false,
         DbFailure::kOther, DbFailure::kOther, 1, 0, false, converted_again},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        this->Reset();
        bool injected = false;
        Clock::time_point injected_at;
        const auto inject = [&] {
            if (injected) return;
            injected = true;
            injected_at = Clock::now();
            this->Inject(c.fault);
        };
        if (c.at == At::kStart) inject();
        if (c.at == At::kConversion) this->converters_.on_local = inject;
        if (c.at == At::kRegistration) {
            this->starter_.action = [&, answer = this->starter_.action](const std::string& command) {
                const bool started = answer(command);
                inject();
                return started;
            };
        }
        this->display_.on_status = [&](int column, const std::string& text) {
            if (c.at == At::kSecondReceive && column == kReceiveColumn && text == "受信中" &&
                this->work_.CurrentRow == 1) {
                inject();
            }
            if (c.brief && text.ends_with("ｴﾗｰ")) this->Clear(c.fault);
        };

        const RunReport stopped = this->Run();
        const auto took = Clock::now() - injected_at;
        ASSERT_TRUE(injected);
        const DbFailure failure = this->Postgres() ? c.postgres : c.sqlite;
        EXPECT_EQ(stopped.end, RunEnd::kHistoryFailed);
        EXPECT_EQ(stopped.failure, failure);
        const std::string named =
            "the run stopped after job " + std::to_string(c.left_open) + " of center A" + std::to_string(c.left_open) +
            ", which stays open for the next run to carry on: " + std::string(DbFailureCause(failure));
        EXPECT_EQ(stopped.reason.rfind(named, 0), 0u) << stopped.reason;
        EXPECT_NE(ToUnicodeText(test::ReadText(this->work_.Log.file)).find("9999" + named), std::string::npos);
        ASSERT_EQ(stopped.jobs.size(), static_cast<std::size_t>(c.left_open));
        EXPECT_EQ(stopped.jobs.back().outcome.stage, "database");
        EXPECT_EQ(this->starter_.commands.size(), c.registrations);
        EXPECT_TRUE(fs::exists(this->Folder("link") + "A3.dat")) << "no further file taken";
        EXPECT_EQ(fs::exists(this->Folder("link") + "A" + std::to_string(c.left_open) + ".dat"), c.link_kept);
        if (c.fault == Fault::kLocked) {
            EXPECT_LT(took, kWait * 3) << "one busy wait, not one per statement or center";
        }

        this->Clear(c.fault);
        const RunReport next = this->Run();
        EXPECT_EQ(next.end, RunEnd::kFinished) << next.reason;
        ASSERT_FALSE(next.jobs.empty());
        EXPECT_TRUE(next.jobs.front().carried_on);
        EXPECT_TRUE(next.jobs.front().outcome.ok()) << OutcomeText(next.jobs.front().outcome);
        EXPECT_EQ(this->Codes(c.left_open), c.history);
        EXPECT_EQ(this->starter_.commands.size(), 3u) << "every message registered once";
        EXPECT_EQ(this->LocalFiles(), (std::vector<std::string>{"message of A1", "message of A2", "message of A3"}));
        EXPECT_EQ(this->Count("処理終了日付 IS NULL"), "0");
        EXPECT_TRUE(fs::is_empty(this->dir_ / "link"));
    }
}

}  // namespace
}  // namespace edi
