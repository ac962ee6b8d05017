// db/schema.sql holds every column the program reads or writes, on both backends, and edidb
// creates the embedded database from it. The control, partner and history tables are written on
// both backends by the session and job suites; the tables below are read by the window or the converters.
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

// A good init and load, and the data source they make, are what the ediconv suite starts from.
TEST(EdidbTest, InitKeepsAnExistingDatabaseAndLoadFailsOnABrokenScript) {
    test::TempDir dir;
    const std::string folder = (dir / "db").string();
    ASSERT_EQ(RunEdidb("init '" + folder + "'"), 0);
    EXPECT_EQ(RunEdidb("init '" + folder + "'"), 1);
    test::WriteFile(dir / "broken.sql", std::string_view("INSERT INTO 無い表 VALUES (1);"));
    EXPECT_EQ(RunEdidb("load '" + folder + "' '" + (dir / "broken.sql").string() + "'"), 1);
}

}  // namespace
}  // namespace edi
