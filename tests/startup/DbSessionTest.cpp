#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "startup/ConnectText.h"
#include "startup/DbSession.h"
#include "startup/SqlScript.h"
#include "support/DbTestSupport.h"
#include "support/Masters.h"

namespace edi {
namespace {

template <typename B>
class DbSessionTest : public test::DbFixture<B> {
protected:
    std::string Row(const std::string& sql, const std::vector<std::string>& columns) {
        return test::RowValues(this->work_, sql, columns);
    }
    ResultSet Open(const std::string& sql, bool for_update = false) {
        this->work_.SqlText = sql;
        ResultSet set;
        EXPECT_TRUE(for_update ? OpenQueryForUpdate(this->work_, set) : OpenQuery(this->work_, set)) << sql;
        return set;
    }
};
TYPED_TEST_SUITE(DbSessionTest, test::DbBackends, test::DbBackendNames);

TYPED_TEST(DbSessionTest, EmptyResultSetsNineAndRowsWalkInOrderFromTheFirstAgain) {
    this->work_.LastOpenEmpty = "0";
    ResultSet set = this->Open("SELECT * FROM FL1903EDI制御マスタ WHERE センターコード = 'NONE'");
    EXPECT_EQ(this->work_.LastOpenEmpty, "9");
    EXPECT_TRUE(set.IsOpen() && set.EndOfSet());
    EXPECT_FALSE(set.Value("センターコード").has_value());
    set.MoveFirst();
    set.MoveNext();
    EXPECT_TRUE(set.EndOfSet());
    set.Close();
    EXPECT_FALSE(set.IsOpen());

    for (const char* code : {"C3", "C1", "C2"}) this->Exec(test::PartnerSql(code, "P"));
    set = this->Open("SELECT センターコード FROM FL1915センタ利用企業マスタ ORDER BY センターコード");
    EXPECT_EQ(this->work_.LastOpenEmpty, "0");
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<std::string> seen;
        for (set.MoveFirst(); !set.EndOfSet(); set.MoveNext())
            seen.push_back(set.Value("センターコード").value_or("?"));
        EXPECT_EQ(seen, (std::vector<std::string>{"C1", "C2", "C3"})) << "pass " << pass;
    }
}

TYPED_TEST(DbSessionTest, TextsQuotesJapaneseNullAndColumnsWhateverTheirCaseComeBackUnchanged) {
    this->Exec(
        "INSERT INTO FL1903EDI制御マスタ (センターコード, 相手先種別, センター名, 送受信方式, 実行端末名) VALUES "
        "('A''B', '2', '材料メーカ　ｾﾝﾀｰ①', NULL, ' PC01 ')");
    this->Exec(
        "INSERT INTO FL1902フォーマット情報マスタ (情報区分コード, BPID, 格納モード, \"1バイト文字集合\", "
        "\"2バイト文字集合\", XML文字コード) VALUES ('0101', 'BP000001', 'M', 'J', 'K', 'Shift_JIS')");
    // Names with Latin letters are found whatever case the database keeps them in.
    EXPECT_EQ(this->Row("SELECT * FROM FL1903EDI制御マスタ WHERE センターコード = " + SqlQuote("A'B"),
                        {"センターコード", "センター名", "送受信方式", "実行端末名", "tcx受信ファイルパス"}),
              "A'B 材料メーカ　ｾﾝﾀｰ① <null>  PC01  <null>");
    EXPECT_EQ(this->Row("SELECT * FROM FL1902フォーマット情報マスタ WHERE 情報区分コード='0101' AND BPID='BP000001'",
                        {"BPID", "bpid", "1バイト文字集合", "2バイト文字集合", "XML文字コード", "xml文字コード",
                         "格納モード"}),
              "BP000001 BP000001 J K Shift_JIS Shift_JIS M");
    const ResultSet set = this->Open("SELECT * FROM FL1903EDI制御マスタ");
    EXPECT_TRUE(set.HasColumn("tcx受信ファイルパス"));
    EXPECT_FALSE(set.HasColumn("存在しない列"));
}

TYPED_TEST(DbSessionTest, EditedRowIsWrittenBackWithOneDateFormFoundByItsKeyOrAllItsValues) {
    this->Exec(test::HistorySql({{.serial = 3, .kind = "03"}, {.serial = 3, .branch = 1, .kind = "10"}}));
    ResultSet set = this->Open("SELECT * FROM FL1102処理履歴ファイル WHERE 通番 = 3 AND 枝番 = 1", true);
    ASSERT_TRUE(set.SetValue("処理終了日付", std::string("2026/12/05")));
    ASSERT_TRUE(set.SetValue("処理終了時刻", std::string("07:08:09")));
    ASSERT_TRUE(set.SetValue("ファイル名", std::string("/in/O'Neil.CII")));
    ASSERT_TRUE(set.SetValue("入力レコード数", std::string("12")));
    ASSERT_TRUE(set.SetValue("bpid", std::nullopt));
    EXPECT_EQ(set.Value("ファイル名"), std::string("/in/O'Neil.CII"));
    EXPECT_FALSE(set.SetValue("無い列", std::string("x")));
    ASSERT_TRUE(set.Update()) << this->work_.Db->LastError();
    set.Close();

    const std::vector<std::string> columns = {"処理終了日付", "処理終了時刻", "ファイル名", "入力レコード数", "BPID"};
    const std::string rows = "SELECT * FROM FL1102処理履歴ファイル WHERE 通番 = 3 AND ";
    EXPECT_EQ(this->Row(rows + "枝番 = 0", columns), "<null> <null> <null> <null> <null>") << "the job row left alone";
    EXPECT_EQ(this->Row(rows + "枝番 = 1", columns), "2026/12/05 07:08:09 /in/O'Neil.CII 12 <null>");
    // Both backends store the date so that a date literal finds it.
    EXPECT_EQ(this->Row(rows + "処理終了日付 = {d '2026-12-05'} AND 処理終了時刻 = {t '07:08:09'}", {"枝番"}), "1");

    // In a table without a key the row is found by all its values.
    this->Exec("CREATE TABLE 作業表 (番号 INTEGER, 名前 VARCHAR(10), 日付 DATE)");
    this->Exec("INSERT INTO 作業表 VALUES (1, NULL, {d '2026-01-02'}), (1, 'x', {d '2026-01-02'})");
    set = this->Open("SELECT * FROM 作業表", true);
    while (!set.EndOfSet() && set.Value("名前").has_value()) set.MoveNext();
    ASSERT_FALSE(set.EndOfSet());
    ASSERT_TRUE(set.SetValue("名前", std::string("y")));
    ASSERT_TRUE(set.Update()) << this->work_.Db->LastError();
    set.Close();
    EXPECT_EQ(this->Scalar("SELECT COUNT(*) AS n FROM 作業表 WHERE 名前 = 'y'", "n"), "1");
    EXPECT_EQ(this->Scalar("SELECT COUNT(*) AS n FROM 作業表 WHERE 名前 = 'x'", "n"), "1");
}

TYPED_TEST(DbSessionTest, WriteBackRefusesWhatItCannotDo) {
    this->Exec(test::HistorySql({{.serial = 4}, {.serial = 5}, {.serial = 6}}));
    const std::string sql = "SELECT * FROM FL1102処理履歴ファイル WHERE 通番 = 4";
    ResultSet set = this->Open(sql);
    EXPECT_FALSE(set.SetValue("終了コード", std::string("0000"))) << "read-only set";
    set = this->Open(sql, true);
    EXPECT_TRUE(set.SetValue("処理終了日付", std::string("2026/13/40")));
    EXPECT_FALSE(set.Update()) << "not a date";
    set = this->Open(sql, true);
    this->Exec("DELETE FROM FL1102処理履歴ファイル WHERE 通番 = 4");
    EXPECT_TRUE(set.SetValue("終了コード", std::string("0000")));
    EXPECT_FALSE(set.Update()) << "the row went away meanwhile";

    // A set that outlives its session fails quietly, and so does the work area's next statement.
    set = this->Open("SELECT * FROM FL1102処理履歴ファイル ORDER BY 通番", true);
    this->work_.Db.reset();
    EXPECT_TRUE(set.SetValue("終了コード", std::string("0000")));
    EXPECT_FALSE(set.Update()) << "no session";
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
    // What each statement was for is StatementPurpose's table; here, that the report carries it.
    for (const char* sql :
         {"SELECT * FROM 無いテーブル", "SELEC 1", "INSERT INTO FL1102処理履歴ファイル (通番) VALUES (1)"}) {
        SCOPED_TRACE(sql);
        this->work_.SqlText = sql;
        EXPECT_FALSE(OpenQuery(this->work_, set));
        EXPECT_FALSE(set.IsOpen());
        EXPECT_FALSE(ExecuteSql(this->work_));
        EXPECT_EQ(this->work_.Db->LastFailure(), DbFailure::kOther);
        EXPECT_EQ(this->work_.Db->LastReport(), DbFailureReport(DbFailure::kOther, sql, this->work_.Db->LastError()));
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
    WorkArea other;
    ASSERT_TRUE(this->db_->Connect(other));
    this->Exec("CREATE TABLE held_parent (id INTEGER PRIMARY KEY)");
    this->Exec(
        "CREATE TABLE held (id INTEGER PRIMARY KEY, parent INTEGER REFERENCES held_parent (id) DEFERRABLE "
        "INITIALLY DEFERRED)");
    if (TypeParam::kBackend == test::Backend::kSqlite) this->Exec("PRAGMA foreign_keys = 1");
    const auto run = [this](const std::string& sql) {
        this->work_.SqlText = sql;
        return ExecuteSql(this->work_);
    };
    const auto seen = [&other](const char* where) {
        return test::RowValues(other, std::string("SELECT COUNT(*) AS n FROM held WHERE ") + where, {"n"});
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
        return test::RowValues(work, "PRAGMA " + name + (value.empty() ? "" : " = " + value), {name});
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
    EXPECT_EQ(pragma(work, "synchronous"), "1") << "NORMAL: the session flushes the log itself where it must";
}

// Padded settings are trimmed; a password that could add keys to the connect text (another
// server, another database file) is braced and reaches this database.
TYPED_TEST(DbSessionTest, ConnectDatabaseTrimsPaddedSettingsAndBracesPasswords) {
    const std::string dsn = this->db_->dsn();
    WorkArea work;
    work.DbSource = dsn + std::string(50 - dsn.size(), ' ');
    work.DbUser = "  " + this->db_->user() + "  ";
    work.DbPassword = " p;w}x{y;Servername=nowhere.invalid;Database=/nonexistent/k500100 ";
    std::string reason;
    ASSERT_TRUE(ConnectDatabase(work, reason)) << reason;
    EXPECT_EQ(work.ConnectString, "DSN=" + dsn + ";UID=" + this->db_->user() +
                                      ";PWD={p;w}}x{y;Servername=nowhere.invalid;Database=/nonexistent/k500100};");
    EXPECT_EQ(test::RowValues(work, "SELECT COUNT(*) AS n FROM FL1102処理履歴ファイル", {"n"}), "0");
}

// A good script is every test database's schema; here, the split and the failing statement.
TYPED_TEST(DbSessionTest, ScriptsRunStatementByStatement) {
    std::string error;
    EXPECT_FALSE(
        RunSqlScript(this->work_, "INSERT INTO 区分マスタ (区分, 区分ｺｰﾄﾞ) VALUES ('x', 'y'); SELEC 1;", error));
    EXPECT_NE(error.find("SELEC 1"), std::string::npos) << error;
    EXPECT_EQ(SplitSqlScript("-- comment; not a statement\n"
                             "CREATE TABLE t (\"1a;b\" INTEGER);\n"
                             "INSERT INTO t VALUES ('it''s; one');  /* c; d */\n"
                             ";\n"
                             "SELECT 1"),
              (std::vector<std::string>{"CREATE TABLE t (\"1a;b\" INTEGER)", "INSERT INTO t VALUES ('it''s; one')",
                                        "SELECT 1"}));
}

// db/schema.sql holds every column the program reads or writes, on both backends, and edidb
// creates the embedded database from it. The control, partner and history tables are written on
// both backends by the tests above and the job suites; below, each table the window or the
// converters read, with the columns they read as a select list.
const std::pair<const char*, const char*> kUsedColumns[] = {
    {"区分マスタ", "区分, 区分ｺｰﾄﾞ, 区分名称"},
    {"FL1902フォーマット情報マスタ",
     "情報区分コード, BPID, 様式識別, シンタックスIDバージョン, 格納モード, \"1バイト文字集合\", "
     "\"2バイト文字集合\", ローカル形式, XML文字コード"},
    {"FL1903レコードフォーマット情報マスタ",
     "フォーマット種別, 情報区分コード, BPID, 項目通番, 対応項目通番, レベル番号, 項目№, 項目位置, 項目名称, 属性, "
     "長さ, 小数部長さ, マルチ明細番号, 繰返し数, 固定項目値, 変換エラー対処"},
    {"FL1916メッセージグループ情報マスタ",
     "相手先コード, 自社コード, 情報区分, BPID, 運用モード, 発信VANコード, 発信センターコード, 発信者コード, "
     "受信VANコード, 受信センターコード, 受信者コード, 交換参照番号, シンタックスIDバージョン, 格納モード, "
     "\"8ビット文字コード\", \"16ビット文字コード\", 短縮表示, 発信VANコード管理機関コード, "
     "発信センターコード管理機関コード, 発信者コード管理機関コード, 受信VANコード管理機関コード, "
     "受信センターコード管理機関コード, 受信者コード管理機関コード"},
};

TYPED_TEST(DbSessionTest, SchemaHoldsEveryColumnTheProgramUses) {
    for (const auto& [table, columns] : kUsedColumns) {
        SCOPED_TRACE(table);
        this->work_.SqlText = std::string("SELECT ") + columns + " FROM " + table;
        ResultSet set;
        EXPECT_TRUE(OpenQuery(this->work_, set)) << this->work_.Db->LastError();
        EXPECT_EQ(this->work_.LastOpenEmpty, "9");
    }
}

int RunEdidb(const std::string& arguments) {
    const int status = std::system((std::string("'") + K500100_EDIDB + "' " + arguments + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A good init and load, and the data source they make, are what the ediconv suite starts from.
TEST(EdidbTest, InitKeepsAnExistingDatabaseAndLoadFailsOnABrokenScript) {
    test::TempDir dir;
    const std::string folder = (dir / "db").string();
    ASSERT_EQ(RunEdidb("init '" + folder + "'"), 0);
    EXPECT_EQ(RunEdidb("init '" + folder + "'"), 1);
    test::WriteFile(dir / "broken.sql", std::string_view("INSERT INTO 無い表 VALUES (1);"));
    EXPECT_EQ(RunEdidb("load '" + folder + "' '" + (dir / "broken.sql").string() + "'"), 1);
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
}

TEST(DbValueTest, DefaultsAndByteLengths) {
    struct Case {
        DbValue value;
        std::string trimmed;
        std::string unchanged;
        std::int32_t bytes;
    };
    const std::vector<Case> cases = {
        {std::nullopt, " d ", " d ", 0},  // Null keeps the default as given
        {std::string("  ab c  "), "ab c", "  ab c  ", 8},
        {std::string("アイウab"), "アイウab", "アイウab", 8},  // full-width two bytes, half-width one
        {std::string("ｱ①　ｲ"), "ｱ①　ｲ", "ｱ①　ｲ", 6},           // half-width kana one, ① and the wide blank two
        {std::string(), "", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unchanged);
        EXPECT_EQ(TrimOrDefault(c.value, " d "), c.trimmed);
        EXPECT_EQ(ValueOrDefault(c.value, " d "), c.unchanged);
        EXPECT_EQ(ByteLength(c.value), c.bytes);
    }
}

TEST(SqlLiteralTest, QuotesDoubledAndOdbcDateTimeEscapes) {
    EXPECT_EQ(SqlQuote("'); DELETE FROM x; --"), "'''); DELETE FROM x; --'");
    EXPECT_EQ(SqlDate(LocalDateTime{2026, 1, 2, 3, 4, 5}), "{d '2026-01-02'}");
    EXPECT_EQ(SqlTime(LocalDateTime{2026, 1, 2, 3, 4, 5}), "{t '03:04:05'}");
}

TEST(ConnectTextTest, ValuesThatNeedItAreBracedAndNoValueAddsAKey) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain pass", "plain pass"},
        {"", ""},
        {"p;w}x{y", "{p;w}}x{y}"},
        {"}", "{}}}"},
        {"x;DSN=Other;Database=/tmp/other", "{x;DSN=Other;Database=/tmp/other}"}};
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(value);
        EXPECT_EQ(ConnectValueText(value), text);
        const std::string connect = "DSN=Mine;UID=u;PWD=" + ConnectValueText(value) + ";Extra=1;";
        EXPECT_EQ(ConnectValue(connect, "pwd"), value);
        EXPECT_EQ(ConnectValue(connect, "DSN"), std::string("Mine"));
        EXPECT_EQ(ConnectValue(connect, "Database"), std::nullopt);
        EXPECT_EQ(ConnectValue(connect, "extra"), std::string("1"));
    }
}

TEST(DbFailureTest, ReportsSayWhatTheStatementWasForOnOneLine) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"SELECT 通番 FROM FL1102処理履歴ファイル ORDER BY 通番 DESC", "reading FL1102処理履歴ファイル"},
        {"select *\n  from FL1903EDI制御マスタ where x = 1", "reading FL1903EDI制御マスタ"},
        {"INSERT INTO FL1102処理履歴ファイル ( 通番 ) VALUES (1)", "adding a row to FL1102処理履歴ファイル"},
        {"UPDATE FL1102処理履歴ファイル SET a = 1", "updating FL1102処理履歴ファイル"},
        {"DELETE FROM 区分マスタ", "deleting from 区分マスタ"},
        {"PRAGMA busy_timeout = 5", "pragma"},
    };
    for (const auto& [sql, purpose] : cases) EXPECT_EQ(StatementPurpose(sql), purpose) << sql;
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

}  // namespace
}  // namespace edi
