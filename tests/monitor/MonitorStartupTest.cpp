#include "monitor/MonitorStartup.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <functional>
#include <QTableWidget>

#include "monitor/Appearance.h"
#include "startup/CenterList.h"
#include "startup/Settings.h"
#include "startup/DbSession.h"
#include "support/DbTestSupport.h"

namespace edi {
namespace {

const char* const kSettings =
    "[Setting0]\nFormBackColor=&HC0C0C0\nLabelBackColor=&HC0C0C0\nLabelFontBold=False\nLabelFontItalic=False\n"
    "LabelFontName=\nLabelFontSize=10\nLabelFontStrikethru=False\nLabelFontUnderline=False\nLabelForeColor=0\n"
    "TextBackColor=16777215\nTextFocusColor=65535\nTextFontBold=False\nTextFontItalic=False\nTextFontName=\n"
    "TextFontSize=11\nTextFontStrikethru=False\nTextFontUnderline=False\nTextForeColor=0\nTitleBackColor=8421376\n"
    "TitleFontBold=True\nTitleFontItalic=False\nTitleFontName=\nTitleFontSize=10\nTitleFontStrikethru=False\n"
    "TitleFontUnderline=False\nTitleForeColor=16777215\n[K700100]\nMINIMAIZE=0\nDEMOMODE=0\n"
    "[COLOR]\n通常=0\nエラー=255\n処理済=32768\n処理中=16711680\n";

class MonitorStartupTest : public ::testing::Test {
public:
    void SetUp() override {
        std::string error;
        db_ = test::TestDatabase::Create(test::Backend::kSqlite, error);
        ASSERT_NE(db_, nullptr) << error;
        ASSERT_TRUE(db_->Connect(setup_));
        std::filesystem::create_directories(dir_ / "edi" / "bin");
        work_.ProgramFolder = dir_ / "edi" / "bin";
        window_ = std::make_unique<MonitorWindow>(work_, boxes_, clock_);
    }
    void TearDown() override {
        window_.reset();
        work_.Db.reset();
        setup_.Db.reset();
        db_.reset();
    }
    void WriteIni(const std::string& extra = "") {
        test::WriteSjisFile(dir_ / "EDI.ini", "[動作環境]\nDBSTRING=" + db_->dsn() + "\nUSERID=" + db_->user() +
                                                  "\nPASSWD=\n" + kSettings + extra);
    }
    void AddCenter(const std::string& code, const std::string& kind, const std::string& terminal,
                   const std::string& method) {
        setup_.SqlText = "INSERT INTO FL1903EDI制御マスタ (センターコード, 相手先種別, センター名, 送受信方式, 実行端末名) VALUES (" +
                         SqlQuote(code) + ", " + SqlQuote(kind) + ", " + SqlQuote("名前" + code) + ", " +
                         SqlQuote(method) + ", " + SqlQuote(terminal) + ")";
        ASSERT_TRUE(ExecuteSql(setup_)) << setup_.Db->LastError();
    }
    bool Start() {
        return InitEnvironment(work_, boxes_, *window_, profile_) &&
               InitMainScreen(work_, boxes_, *window_, clock_, "  OP01  ");
    }

    test::TempDir dir_;
    std::unique_ptr<test::TestDatabase> db_;
    WorkArea setup_;
    WorkArea work_;
    test::RecordedMessageBoxes boxes_;
    test::FixedClock clock_{LocalDateTime{2026, 12, 5, 9, 0, 0}};
    const cProfile profile_;
    std::unique_ptr<MonitorWindow> window_;
};

TEST_F(MonitorStartupTest, ListsThisTerminalsPartnerCentersWithTheirMethodNames) {
    WriteIni();
    const std::string me = profile_.machine();
    AddCenter("C300", "2", me, "Z");
    AddCenter("C100", "2", me, "M");
    AddCenter("C200", "1", me, "Z");
    AddCenter("C400", "2", "another-terminal", "Z");
    setup_.SqlText = "INSERT INTO 区分マスタ (区分, 区分ｺｰﾄﾞ, 区分名称) VALUES ('送受信方式', 'Z', 'リンク')";
    ASSERT_TRUE(ExecuteSql(setup_));

    ASSERT_TRUE(Start()) << (boxes_.shown().empty() ? "" : boxes_.shown()[0].text);
    EXPECT_TRUE(boxes_.shown().empty());
    auto* grid = window_->findChild<QTableWidget*>(QStringLiteral("GRID"));
    ASSERT_EQ(grid->rowCount(), 2) << "相手先種別 1 and the other terminal's center are not listed";
    EXPECT_EQ(grid->item(0, 1)->text(), QStringLiteral("C100"));
    EXPECT_EQ(grid->item(0, 3)->text(), QString()) << "method M has no 区分マスタ row";
    EXPECT_EQ(grid->item(1, 1)->text(), QStringLiteral("C300"));
    EXPECT_EQ(grid->item(1, 3)->text(), QString::fromUtf8("リンク"));
    EXPECT_EQ(grid->item(1, 0)->text(), QStringLiteral("○"));
    EXPECT_EQ(work_.OperatorCode, "OP01");
    EXPECT_EQ(window_->findChild<QLabel*>(QStringLiteral("lbl_OPCD"))->text(), QStringLiteral("OP01"));
    EXPECT_EQ(window_->findChild<QLabel*>(QStringLiteral("lbl_DATE"))->text(), QStringLiteral("2026/12/05"));
    EXPECT_EQ(work_.Colors.Error, 255);
}

TEST_F(MonitorStartupTest, EndsWithTheMessageOfTheFirstFailingStep) {
    struct Row {
        const char* name;
        std::function<void(MonitorStartupTest&)> prepare;
        const char* message;
    };
    const Row rows[] = {
        {"missing EDI.ini: empty data source", [](MonitorStartupTest&) {}, kConnectError},
        {"no center for this terminal", [](MonitorStartupTest& t) { t.WriteIni(); }, kNoCenterData},
        {"bad font flag", [](MonitorStartupTest& t) {
             t.WriteIni();
             std::string text = test::ReadText(t.dir_ / "EDI.ini");
             const std::string from = "TextFontBold=False";
             text.replace(text.find(from), from.size(), "TextFontBold=abc");
             test::WriteFile(t.dir_ / "EDI.ini", text);
         }, kAppearanceError},
        {"program folder under the root", [](MonitorStartupTest& t) { t.work_.ProgramFolder = "/bin"; }, kIniReadError},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        boxes_ = test::RecordedMessageBoxes();
        work_ = WorkArea();
        work_.ProgramFolder = dir_ / "edi" / "bin";
        std::filesystem::remove(dir_ / "EDI.ini");
        r.prepare(*this);
        EXPECT_FALSE(Start());
        ASSERT_EQ(boxes_.shown().size(), 1u);
        EXPECT_EQ(boxes_.shown()[0].text, r.message);
        EXPECT_EQ(boxes_.shown()[0].icon, MessageIcon::kNone);
        EXPECT_EQ(boxes_.shown()[0].caption, kProgramTitle);
    }
}

TEST(OperatorCodeTest, TakesTheWholeCommandLine) {
    char prog[] = "k500100", a[] = " OP", b[] = "01 ";
    char* argv[] = {prog, a, b, nullptr};
    EXPECT_EQ(CommandLineText(3, argv), " OP 01 ");
    EXPECT_EQ(CommandLineText(1, argv), "");
}

}  // namespace
}  // namespace edi
