#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "startup/ConnectText.h"
#include "startup/DbSession.h"
#include "startup/SqlScript.h"
#include "support/DbTestSupport.h"

namespace edi {
namespace {

using test::DbFixture;

template <typename B>
class DbSessionTest : public DbFixture<B> {};
TYPED_TEST_SUITE(DbSessionTest, test::DbBackends, test::DbBackendNames);

TYPED_TEST(DbSessionTest, EmptyResultSetsNineAndStaysOpen) {
    this->work_.LastOpenEmpty = "0";
    this->work_.SqlText = "SELECT * FROM FL1903EDI制御マスタ WHERE センターコード = 'NONE'";
    ResultSet set;
    ASSERT_TRUE(OpenQuery(this->work_, set));
    EXPECT_EQ(this->work_.LastOpenEmpty, "9");
    EXPECT_TRUE(set.IsOpen());
    EXPECT_TRUE(set.EndOfSet());
    EXPECT_FALSE(set.Value("センターコード").has_value());
    set.MoveFirst();
    set.MoveNext();
    EXPECT_TRUE(set.EndOfSet());
    set.Close();
    EXPECT_FALSE(set.IsOpen());

    this->Exec("INSERT INTO FL1903EDI制御マスタ (センターコード, 相手先種別) VALUES ('C1', '2')");
    this->work_.SqlText = "SELECT * FROM FL1903EDI制御マスタ";
    ASSERT_TRUE(OpenQueryForUpdate(this->work_, set));
    EXPECT_EQ(this->work_.LastOpenEmpty, "0");
    EXPECT_FALSE(set.EndOfSet());
}

TYPED_TEST(DbSessionTest, TextsQuotesJapaneseAndNullComeBackUnchanged) {
    const std::string code = "A'B";
    const std::string name = "材料メーカ　ｾﾝﾀｰ①";
    this->Exec(
        "INSERT INTO FL1903EDI制御マスタ (センターコード, 相手先種別, センター名, 送受信方式, 実行端末名) VALUES (" +
        SqlQuote(code) + ", '2', " + SqlQuote(name) + ", NULL, ' PC01 ')");
    this->work_.SqlText = "SELECT * FROM FL1903EDI制御マスタ WHERE センターコード = " + SqlQuote(code);
    ResultSet set;
    ASSERT_TRUE(OpenQuery(this->work_, set));
    ASSERT_FALSE(set.EndOfSet());
    EXPECT_EQ(set.Value("センターコード"), code);
    EXPECT_EQ(set.Value("センター名"), name);
    EXPECT_EQ(ByteLength(set.Value("センター名")), 18);
    EXPECT_FALSE(set.Value("送受信方式").has_value());
    EXPECT_TRUE(set.HasColumn("送受信方式"));
    EXPECT_FALSE(set.HasColumn("存在しない列"));
    EXPECT_EQ(TrimOrDefault(set.Value("送受信方式"), " none "), " none ");
    EXPECT_EQ(TrimOrDefault(set.Value("実行端末名"), ""), "PC01");
    EXPECT_EQ(ValueOrDefault(set.Value("実行端末名"), ""), " PC01 ");
    // Names with Latin letters are found whatever case the database keeps them in.
    EXPECT_EQ(set.Value("tcx受信ファイルパス"), std::nullopt);
    EXPECT_TRUE(set.HasColumn("tcx受信ファイルパス"));
    set.MoveNext();
    EXPECT_TRUE(set.EndOfSet());
}

TYPED_TEST(DbSessionTest, ColumnsFoundByNameWithoutRegardToCase) {
    this->Exec(
        "INSERT INTO FL1902フォーマット情報マスタ (情報区分コード, BPID, 格納モード, \"1バイト文字集合\", "
        "\"2バイト文字集合\", XML文字コード) VALUES ('0101', 'BP000001', 'M', 'J', 'K', 'Shift_JIS')");
    this->work_.SqlText = "SELECT * FROM FL1902フォーマット情報マスタ WHERE 情報区分コード='0101' AND BPID='BP000001'";
    ResultSet set;
    ASSERT_TRUE(OpenQuery(this->work_, set));
    ASSERT_FALSE(set.EndOfSet());
    struct Case {
        const char* column;
        const char* value;
    };
    for (const Case& c : std::vector<Case>{{"BPID", "BP000001"},
                                           {"bpid", "BP000001"},
                                           {"1バイト文字集合", "J"},
                                           {"2バイト文字集合", "K"},
                                           {"XML文字コード", "Shift_JIS"},
                                           {"xml文字コード", "Shift_JIS"},
                                           {"格納モード", "M"}}) {
        SCOPED_TRACE(c.column);
        EXPECT_EQ(set.Value(c.column), std::string(c.value));
    }
}

TYPED_TEST(DbSessionTest, WalksRowsInOrderAndStartsAgainAtTheFirst) {
    for (const char* code : {"C3", "C1", "C2"}) {
        this->Exec(std::string("INSERT INTO FL1915センタ利用企業マスタ (センターコード, 相手先企業コード) VALUES ('") +
                   code + "', 'P')");
    }
    this->work_.SqlText = "SELECT センターコード FROM FL1915センタ利用企業マスタ ORDER BY センターコード";
    ResultSet set;
    ASSERT_TRUE(OpenQuery(this->work_, set));
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        set.MoveFirst();
        std::vector<std::string> seen;
        while (!set.EndOfSet()) {
            seen.push_back(set.Value("センターコード").value_or("?"));
            set.MoveNext();
        }
        EXPECT_EQ(seen, (std::vector<std::string>{"C1", "C2", "C3"}));
    }
}

TYPED_TEST(DbSessionTest, EditedRowIsWrittenBackWithOneDateForm) {
    this->Exec("INSERT INTO FL1102処理履歴ファイル (通番, 枝番, 処理種別) VALUES (3, 0, '03')");
    this->Exec("INSERT INTO FL1102処理履歴ファイル (通番, 枝番, 処理種別) VALUES (3, 1, '10')");
    this->work_.SqlText = "SELECT * FROM FL1102処理履歴ファイル WHERE 通番 = 3 AND 枝番 = 1";
    ResultSet set;
    ASSERT_TRUE(OpenQueryForUpdate(this->work_, set));
    ASSERT_TRUE(set.SetValue("処理終了日付", std::string("2026/12/05")));
    ASSERT_TRUE(set.SetValue("処理終了時刻", std::string("07:08:09")));
    ASSERT_TRUE(set.SetValue("ファイル名", std::string("/in/O'Neil.CII")));
    ASSERT_TRUE(set.SetValue("入力レコード数", std::string("12")));
    ASSERT_TRUE(set.SetValue("bpid", std::nullopt));
    EXPECT_EQ(set.Value("ファイル名"), std::string("/in/O'Neil.CII"));
    EXPECT_FALSE(set.SetValue("無い列", std::string("x")));
    ASSERT_TRUE(set.Update()) << this->work_.Db->LastError();
    set.Close();

    this->work_.SqlText = "SELECT * FROM FL1102処理履歴ファイル ORDER BY 枝番";
    ASSERT_TRUE(OpenQuery(this->work_, set));
    EXPECT_EQ(set.Value("処理終了日付"), std::nullopt);  // the job row is left alone
    set.MoveNext();
    EXPECT_EQ(set.Value("処理終了日付"), std::string("2026/12/05"));
    EXPECT_EQ(set.Value("処理終了時刻"), std::string("07:08:09"));
    EXPECT_EQ(set.Value("ファイル名"), std::string("/in/O'Neil.CII"));
    EXPECT_EQ(set.Value("入力レコード数"), std::string("12"));
    EXPECT_EQ(set.Value("BPID"), std::nullopt);
    set.Close();
    // Both backends store the date so that a date literal finds it.
    EXPECT_EQ(this->Scalar("SELECT COUNT(*) AS n FROM FL1102処理履歴ファイル WHERE 処理終了日付 = {d '2026-12-05'}"
                           " AND 処理終了時刻 = {t '07:08:09'}",
                           "n"),
              "1");
}

TYPED_TEST(DbSessionTest, WriteBackRefusesWhatItCannotDo) {
    this->Exec("INSERT INTO FL1102処理履歴ファイル (通番, 枝番) VALUES (4, 0)");
    this->work_.SqlText = "SELECT * FROM FL1102処理履歴ファイル WHERE 通番 = 4";
    ResultSet set;
    ASSERT_TRUE(OpenQuery(this->work_, set));
    EXPECT_FALSE(set.SetValue("終了コード", std::string("0000")));  // read-only set
    set.Close();

    ASSERT_TRUE(OpenQueryForUpdate(this->work_, set));
    EXPECT_TRUE(set.SetValue("処理終了日付", std::string("2026/13/40")));
    EXPECT_FALSE(set.Update());  // not a date
    set.Close();

    ASSERT_TRUE(OpenQueryForUpdate(this->work_, set));
    this->Exec("DELETE FROM FL1102処理履歴ファイル WHERE 通番 = 4");
    EXPECT_TRUE(set.SetValue("終了コード", std::string("0000")));
    EXPECT_FALSE(set.Update());  // the row went away meanwhile
}

TYPED_TEST(DbSessionTest, TableWithoutKeyFindsTheRowByAllItsValues) {
    this->Exec("CREATE TABLE 作業表 (番号 INTEGER, 名前 VARCHAR(10), 日付 DATE)");
    this->Exec("INSERT INTO 作業表 VALUES (1, NULL, {d '2026-01-02'})");
    this->Exec("INSERT INTO 作業表 VALUES (1, 'x', {d '2026-01-02'})");
    this->work_.SqlText = "SELECT * FROM 作業表";
    ResultSet set;
    ASSERT_TRUE(OpenQueryForUpdate(this->work_, set));
    while (!set.EndOfSet() && set.Value("名前").has_value()) set.MoveNext();
    ASSERT_FALSE(set.EndOfSet());
    ASSERT_TRUE(set.SetValue("名前", std::string("y")));
    ASSERT_TRUE(set.Update()) << this->work_.Db->LastError();
    set.Close();
    EXPECT_EQ(this->Scalar("SELECT COUNT(*) AS n FROM 作業表 WHERE 名前 = 'y'", "n"), "1");
    EXPECT_EQ(this->Scalar("SELECT COUNT(*) AS n FROM 作業表 WHERE 名前 = 'x'", "n"), "1");
}

TYPED_TEST(DbSessionTest, SetOutlivingItsSessionFailsQuietly) {
    this->Exec("INSERT INTO FL1102処理履歴ファイル (通番, 枝番) VALUES (1, 0)");
    this->Exec("INSERT INTO FL1102処理履歴ファイル (通番, 枝番) VALUES (2, 0)");
    this->work_.SqlText = "SELECT * FROM FL1102処理履歴ファイル ORDER BY 通番";
    ResultSet set;
    ASSERT_TRUE(OpenQueryForUpdate(this->work_, set));
    this->work_.Db.reset();
    EXPECT_TRUE(set.SetValue("終了コード", std::string("0000")));
    EXPECT_FALSE(set.Update());
    set.MoveFirst();
    set.MoveNext();
    set.Close();
    EXPECT_FALSE(ExecuteSql(this->work_));
}

TYPED_TEST(DbSessionTest, RejectedStatementsReportFailureOnceInTheLog) {
    test::TempDir dir;
    this->work_.Log.file = dir / "ERR.LOG";
    this->work_.LastOpenEmpty = "0";
    ResultSet set;
    struct Case {
        const char* sql;
        const char* purpose;
    };
    const std::vector<Case> cases = {
        {"SELECT * FROM 無いテーブル", "reading 無いテーブル"},
        {"SELEC 1", "selec"},
        {"INSERT INTO FL1102処理履歴ファイル (通番) VALUES (1)", "adding a row to FL1102処理履歴ファイル"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        this->work_.SqlText = c.sql;
        EXPECT_FALSE(OpenQuery(this->work_, set));
        EXPECT_FALSE(set.IsOpen());
        EXPECT_FALSE(ExecuteSql(this->work_));
        EXPECT_FALSE(this->work_.Db->LastError().empty());
        EXPECT_EQ(this->work_.Db->LastFailure(), DbFailure::kOther);
        const std::string report = this->work_.Db->LastReport();
        EXPECT_EQ(report.rfind("database error: " + std::string(c.purpose) + ": ", 0), 0u) << report;
        EXPECT_NE(report.find(this->work_.Db->LastError().substr(0, 20)), std::string::npos) << report;
        EXPECT_EQ(report.find('\n'), std::string::npos) << report;
    }
    EXPECT_EQ(this->work_.LastOpenEmpty, "0");
    // Two lines per statement, each the code and the report.
    const std::string log = ToUnicodeText(test::ReadText(dir / "ERR.LOG"));
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 6) << log;
    EXPECT_EQ(log.rfind("9999database error: reading 無いテーブル: ", 0), 0u) << log;

    // A duplicate key is refused too, as a taken key that the caller decides about: the second
    // terminal's insert of a taken number. It leaves no line; the next success clears the failure.
    EXPECT_TRUE(this->Exec("INSERT INTO FL1102処理履歴ファイル (通番, 枝番) VALUES (1, 0)"));
    this->work_.SqlText = "INSERT INTO FL1102処理履歴ファイル (通番, 枝番) VALUES (1, 0)";
    EXPECT_FALSE(ExecuteSql(this->work_));
    EXPECT_EQ(this->work_.Db->LastFailure(), DbFailure::kTaken);
    EXPECT_EQ(ToUnicodeText(test::ReadText(dir / "ERR.LOG")), log);
    EXPECT_TRUE(this->Exec("INSERT INTO FL1102処理履歴ファイル (通番, 枝番) VALUES (2, 0)"));
    EXPECT_EQ(this->work_.Db->LastFailure(), DbFailure::kNone);
    EXPECT_EQ(this->work_.Db->LastReport(), "");
}

TYPED_TEST(DbSessionTest, HeldWritesReachOthersOnlyWhenCommittedAndAFailureUndoesThemAll) {
    const bool sqlite = TypeParam::kBackend == test::Backend::kSqlite;
    WorkArea other;
    ASSERT_TRUE(this->db_->Connect(other));
    this->Exec("CREATE TABLE held_parent (id INTEGER PRIMARY KEY)");
    this->Exec("CREATE TABLE held (id INTEGER PRIMARY KEY, parent INTEGER REFERENCES held_parent (id) DEFERRABLE "
               "INITIALLY DEFERRED)");
    if (sqlite) this->Exec("PRAGMA foreign_keys = 1");
    const auto run = [this](const std::string& sql) {
        this->work_.SqlText = sql;
        return ExecuteSql(this->work_);
    };
    const auto seen = [&other](const char* where) {
        other.SqlText = std::string("SELECT COUNT(*) AS n FROM held WHERE ") + where;
        ResultSet set;
        return OpenQuery(other, set) ? set.Value("n").value_or("<null>") : "<failed>";
    };
    this->work_.Db->HoldWrites(true);

    ASSERT_TRUE(run("INSERT INTO held (id) VALUES (1)"));
    ASSERT_TRUE(run("INSERT INTO held (id) VALUES (2)"));
    EXPECT_EQ(seen("1 = 1"), "0") << "held until the commit";
    EXPECT_TRUE(CommitWrites(this->work_));
    EXPECT_EQ(seen("1 = 1"), "2");
    EXPECT_TRUE(CommitWrites(this->work_)) << "nothing held: nothing to commit";

    // A key taken after held writes: the writes before it are undone, so it is a failure.
    ASSERT_TRUE(run("INSERT INTO held (id) VALUES (3)"));
    EXPECT_FALSE(run("INSERT INTO held (id) VALUES (1)"));
    EXPECT_EQ(this->work_.Db->FirstFailure(), DbFailure::kOther);
    EXPECT_TRUE(CommitWrites(this->work_));
    EXPECT_EQ(seen("id = 3"), "0");
    this->work_.Db->ForgetFailures();
    // The first write of a group may find its key taken (another terminal's number): nothing
    // was undone, and the caller takes the next number.
    EXPECT_FALSE(run("INSERT INTO held (id) VALUES (1)"));
    EXPECT_EQ(this->work_.Db->LastFailure(), DbFailure::kTaken);
    EXPECT_EQ(this->work_.Db->FirstFailure(), DbFailure::kNone);

    // A commit the database refuses (a deferred reference to nothing) is a failure of its own,
    // and the writes are undone.
    ASSERT_TRUE(run("INSERT INTO held (id) VALUES (4)"));
    ASSERT_TRUE(run("INSERT INTO held (id, parent) VALUES (5, 99)"));
    EXPECT_FALSE(CommitWrites(this->work_));
    EXPECT_EQ(this->work_.Db->FirstFailure(), DbFailure::kOther);
    EXPECT_EQ(this->work_.Db->FirstReport().rfind("database error: commit: ", 0), 0u) << this->work_.Db->FirstReport();
    EXPECT_EQ(seen("id >= 4"), "0");

    // Released with writes not committed: they are undone; later writes commit on their own.
    ASSERT_TRUE(run("INSERT INTO held (id) VALUES (6)"));
    this->work_.Db->HoldWrites(false);
    ASSERT_TRUE(run("INSERT INTO held (id) VALUES (7)"));
    EXPECT_EQ(seen("id >= 4"), "1");
    EXPECT_EQ(seen("id = 7"), "1");
}

TEST(EmbeddedDatabaseTest, AFileMadeInTheOldJournalModeTakesTheWriteAheadLogAtItsNextConnection) {
    std::string error;
    const auto db = test::TestDatabase::Create(test::Backend::kSqlite, error);
    ASSERT_NE(db, nullptr) << error;
    // The pragma's one value, under the pragma's own name.
    const auto pragma = [](WorkArea& work, const std::string& name, const std::string& value = "") {
        work.SqlText = "PRAGMA " + name + (value.empty() ? "" : " = " + value);
        ResultSet set;
        return OpenQuery(work, set) && !set.EndOfSet() ? set.Value(name).value_or("<null>") : "<failed>";
    };
    {
        WorkArea work;
        ASSERT_TRUE(db->Connect(work));
        EXPECT_EQ(pragma(work, "journal_mode"), "wal");
        EXPECT_EQ(pragma(work, "journal_mode", "DELETE"), "delete");
    }
    WorkArea work;
    ASSERT_TRUE(db->Connect(work));
    EXPECT_EQ(pragma(work, "journal_mode"), "wal");
    EXPECT_EQ(pragma(work, "synchronous"), "2") << "every commit on disk before it returns (FULL)";
}

TYPED_TEST(DbSessionTest, ConnectDatabaseTrimsThePaddedSettings) {
    WorkArea work;
    work.TerminalName = "PC01";
    work.DbSource = this->db_->dsn() + std::string(50 - this->db_->dsn().size(), ' ');
    work.DbUser = "  " + this->db_->user() + "  ";
    work.DbPassword = std::string(50, ' ');
    ASSERT_TRUE(ConnectDatabase(work));
    EXPECT_EQ(work.ConnectString, "DSN=" + this->db_->dsn() + ";UID=" + this->db_->user() + ";PWD=;");
    ASSERT_NE(work.Db, nullptr);
    work.SqlText = "SELECT * FROM 区分マスタ";
    ResultSet set;
    EXPECT_TRUE(OpenQuery(work, set));
}

TYPED_TEST(DbSessionTest, ScriptsRunStatementByStatement) {
    std::string error;
    EXPECT_TRUE(
        RunSqlScript(this->work_,
                     "-- two names; one holds a semicolon\n"
                     "INSERT INTO 区分マスタ (区分, 区分ｺｰﾄﾞ, 区分名称) VALUES ('送受信方式', 'Z', 'TCX;連携');\n"
                     "/* mail */ INSERT INTO 区分マスタ (区分, 区分ｺｰﾄﾞ, 区分名称) VALUES ('送受信方式', 'M', 'ﾒｰﾙ')\n",
                     error))
        << error;
    EXPECT_EQ(this->Scalar("SELECT 区分名称 FROM 区分マスタ WHERE 区分= '送受信方式' AND 区分ｺｰﾄﾞ= 'Z'", "区分名称"),
              "TCX;連携");
    EXPECT_FALSE(
        RunSqlScript(this->work_, "INSERT INTO 区分マスタ (区分, 区分ｺｰﾄﾞ) VALUES ('x', 'y'); SELEC 1;", error));
    EXPECT_NE(error.find("SELEC 1"), std::string::npos) << error;
}

TEST(DbSessionWithoutDatabaseTest, WrongDataSourceFailsAndLeavesNoSession) {
    test::TempDir dir;
    test::WriteFile(dir / "odbc.ini", std::string_view("[Other]\nDriver = SQLite3\nDatabase = /nonexistent/x\n"));
    setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
    WorkArea work;
    work.DbSource = " NoSuchSource ";
    work.DbUser = "user";
    work.DbPassword = "pass word";
    work.Log.file = dir / "ERR.LOG";
    std::string reason;
    EXPECT_FALSE(ConnectDatabase(work, reason));
    EXPECT_EQ(work.ConnectString, "DSN=NoSuchSource;UID=user;PWD=pass word;");
    EXPECT_EQ(work.Db, nullptr);
    // The driver manager's reason, in the log as well; the password appears nowhere.
    EXPECT_EQ(reason.rfind("cannot connect to the database (data source NoSuchSource, user user): ", 0), 0u) << reason;
    EXPECT_NE(reason.find("Data source name not found"), std::string::npos) << reason;
    EXPECT_EQ(ToUnicodeText(test::ReadText(dir / "ERR.LOG")), "9999" + reason + "\n");
    EXPECT_EQ(reason.find("pass word"), std::string::npos);
    work.SqlText = "SELECT * FROM 区分マスタ";
    ResultSet set;
    EXPECT_FALSE(OpenQuery(work, set));
    EXPECT_FALSE(OpenQueryForUpdate(work, set));
    EXPECT_FALSE(ExecuteSql(work));

    // An empty name fails even where odbc.ini holds some data source.
    work.DbSource = "   ";
    EXPECT_FALSE(ConnectDatabase(work));
    EXPECT_EQ(work.ConnectString, "DSN=;UID=user;PWD=pass word;");
    std::string error;
    EXPECT_EQ(DbSession::Open("", "PC01", error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(DbValueTest, DefaultsAndByteLengths) {
    struct Case {
        const char* name;
        DbValue value;
        std::string trimmed;
        std::string unchanged;
        std::int32_t bytes;
    };
    const std::vector<Case> cases = {
        {"null keeps the default as given", std::nullopt, " d ", " d ", 0},
        {"blanks around", std::string("  ab c  "), "ab c", "  ab c  ", 8},
        {"three full-width and two half-width", std::string("アイウab"), "アイウab", "アイウab", 8},
        {"half-width kana count one", std::string("ｱｲｳ"), "ｱｲｳ", "ｱｲｳ", 3},
        {"empty", std::string(), "", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TrimOrDefault(c.value, " d "), c.trimmed);
        EXPECT_EQ(ValueOrDefault(c.value, " d "), c.unchanged);
        EXPECT_EQ(ByteLength(c.value), c.bytes);
    }
}

TEST(SqlLiteralTest, QuotesDoubledAndOdbcDateTimeEscapes) {
    EXPECT_EQ(SqlQuote("A'B"), "'A''B'");
    EXPECT_EQ(SqlQuote("'); DELETE FROM x; --"), "'''); DELETE FROM x; --'");
    EXPECT_EQ(SqlQuote(""), "''");
    EXPECT_EQ(SqlQuote("センター"), "'センター'");
    EXPECT_EQ(SqlDate(LocalDateTime{2026, 1, 2, 3, 4, 5}), "{d '2026-01-02'}");
    EXPECT_EQ(SqlTime(LocalDateTime{2026, 1, 2, 3, 4, 5}), "{t '03:04:05'}");
}

TEST(ConnectTextTest, ValuesThatNeedItAreBracedAndNoValueAddsAKey) {
    struct Case {
        const char* value;
        const char* text;
    };
    const std::vector<Case> cases = {{"plain pass", "plain pass"},
                                     {"", ""},
                                     {"a;b", "{a;b}"},
                                     {"p;w}x{y", "{p;w}}x{y}"},
                                     {"}", "{}}}"},
                                     {"x;DSN=Other;Database=/tmp/other", "{x;DSN=Other;Database=/tmp/other}"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(ConnectValueText(c.value), c.text);
        const std::string connect = "DSN=Mine;UID=u;PWD=" + ConnectValueText(c.value) + ";Extra=1;";
        EXPECT_EQ(ConnectValue(connect, "pwd"), std::string(c.value));
        EXPECT_EQ(ConnectValue(connect, "DSN"), std::string("Mine"));
        EXPECT_EQ(ConnectValue(connect, "Database"), std::nullopt);
        EXPECT_EQ(ConnectValue(connect, "extra"), std::string("1"));
    }
}

TEST(DbFailureTest, ReportsSayWhatTheStatementWasForOnOneLine) {
    struct Case {
        const char* sql;
        const char* purpose;
    };
    const std::vector<Case> cases = {
        {"SELECT 通番 FROM FL1102処理履歴ファイル ORDER BY 通番 DESC", "reading FL1102処理履歴ファイル"},
        {"select *\n  from FL1903EDI制御マスタ where x = 1", "reading FL1903EDI制御マスタ"},
        {"INSERT INTO FL1102処理履歴ファイル ( 通番 ) VALUES (1)", "adding a row to FL1102処理履歴ファイル"},
        {"UPDATE FL1102処理履歴ファイル SET a = 1", "updating FL1102処理履歴ファイル"},
        {"DELETE FROM 区分マスタ", "deleting from 区分マスタ"},
        {"PRAGMA busy_timeout = 5", "pragma"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        EXPECT_EQ(StatementPurpose(c.sql), c.purpose);
    }
    EXPECT_EQ(DbFailureReport(DbFailure::kBusy, "SELECT a\nFROM T", "ERROR: canceling statement;\nError while"),
              "the database is busy: reading T: ERROR: canceling statement; Error while [SQL: SELECT a FROM T]");
    // A long statement is cut, never inside a character.
    const std::string report = DbFailureReport(
        DbFailure::kLost,
        "SELECT '" + std::string(200, 'x') + "' FROM " + std::string(100, 'x') + " WHERE a = 'ああああ'", "gone");
    EXPECT_EQ(report.rfind("the connection to the database is lost: reading ", 0), 0u);
    EXPECT_EQ(report.substr(report.size() - 4), "...]");
    EXPECT_LE(report.size() - report.find("[SQL: "), 6u + 300u + 4u);
    EXPECT_EQ(DbFailureReport(DbFailure::kOther, "", "no session"), "database error: no session");
}

TEST(SqlScriptTest, SplitsAtSemicolonsOutsideQuotesAndComments) {
    const std::vector<std::string> statements = SplitSqlScript(
        "-- comment; not a statement\n"
        "CREATE TABLE t (\"1a;b\" INTEGER);\n"
        "INSERT INTO t VALUES ('it''s; one');  /* c; d */\n"
        ";\n"
        "SELECT 1");
    EXPECT_EQ(statements, (std::vector<std::string>{"CREATE TABLE t (\"1a;b\" INTEGER)",
                                                    "INSERT INTO t VALUES ('it''s; one')", "SELECT 1"}));
}

}  // namespace
}  // namespace edi
