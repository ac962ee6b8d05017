// db/schema.sql holds every table and column the program reads or writes, on both backends,
// and edidb creates the embedded database from it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "startup/DbSession.h"
#include "support/DbTestSupport.h"

namespace edi {
namespace {

// Each table with the columns the program reads or writes, as a select list.
const std::pair<const char*, const char*> kUsedColumns[] = {
    {"FL1903EDI制御マスタ",
     "センターコード, センター名, 送受信方式, 実行端末名, 相手先種別, TCX受信ファイルパス, 送受信データ形式, "
     "相手先メールアドレス"},
    {"区分マスタ", "区分, 区分ｺｰﾄﾞ, 区分名称"},
    {"FL1102処理履歴ファイル",
     "通番, 枝番, 送受信種別, 相手先種別, 処理種別, 処理開始日付, 処理開始時刻, センターコード, 処理終了日付, "
     "処理終了時刻, 相手先企業コード, BPID, 取引情報区分, 最終シーケンス番号, 入力レコード数, 入力ファイルサイズ, "
     "出力レコード数, 出力ファイルサイズ, 格納モード, 終了コード, 詳細コード, ファイル名"},
    {"FL1915センタ利用企業マスタ", "センターコード, 相手先企業コード"},
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
    {"FL0003担当者マスタ", "担当者コード, 担当者名, パスワード"},
};

template <typename B>
class SchemaTest : public test::DbFixture<B> {};
TYPED_TEST_SUITE(SchemaTest, test::DbBackends, test::DbBackendNames);

TYPED_TEST(SchemaTest, HoldsEveryColumnTheProgramUses) {
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

TEST(EdidbTest, InitCreatesTheEmbeddedDatabaseAndLoadRunsScripts) {
    test::TempDir dir;
    const std::string folder = (dir / "db").string();
    ASSERT_EQ(RunEdidb("init '" + folder + "'"), 0);
    const std::string ini = test::ReadText(dir / "db" / "odbc.ini");
    EXPECT_NE(ini.find("[K500100]"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Database = " + folder + "/k500100.sqlite"), std::string::npos) << ini;
    EXPECT_EQ(RunEdidb("init '" + folder + "'"), 1);  // an existing database is kept

    test::WriteFile(dir / "centers.sql",
                    std::string_view("INSERT INTO FL1903EDI制御マスタ (センターコード, 相手先種別, "
                                     "センター名) VALUES ('C''1', '2', 'センター');\n"));
    ASSERT_EQ(RunEdidb("load '" + folder + "' '" + (dir / "centers.sql").string() + "'"), 0);
    test::WriteFile(dir / "broken.sql", std::string_view("INSERT INTO 無い表 VALUES (1);"));
    EXPECT_EQ(RunEdidb("load '" + folder + "' '" + (dir / "broken.sql").string() + "'"), 1);

    setenv("ODBCINI", (dir / "db" / "odbc.ini").c_str(), 1);
    WorkArea work;
    work.DbSource = "K500100";
    ASSERT_TRUE(ConnectDatabase(work));
    work.SqlText = "SELECT * FROM FL1903EDI制御マスタ";
    ResultSet set;
    ASSERT_TRUE(OpenQuery(work, set));
    EXPECT_EQ(set.Value("センターコード"), std::string("C'1"));
    EXPECT_EQ(set.Value("センター名"), std::string("センター"));
    set.MoveNext();
    EXPECT_TRUE(set.EndOfSet());
}

}  // namespace
}  // namespace edi
