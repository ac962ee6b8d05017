#include <gtest/gtest.h>

#include <QLabel>
#include <QTableWidget>
#include <functional>

#include "WindowFixture.h"
#include "monitor/Appearance.h"
#include "monitor/MonitorStartup.h"
#include "startup/CenterList.h"
#include "startup/DbSession.h"
#include "startup/Settings.h"
#include "support/DbTestSupport.h"
#include "support/Masters.h"

namespace edi {
namespace {

class MonitorStartupTest : public test::DbFixture<test::SqliteBackend> {
public:
    void SetUp() override {
        DbFixture::SetUp();
        std::filesystem::create_directories(dir_ / "edi" / "bin");
        start_.ProgramFolder = dir_ / "edi" / "bin";
        window_ = std::make_unique<MonitorWindow>(start_, boxes_, clock_);
    }
    void TearDown() override {
        window_.reset();
        start_.Db.reset();
        DbFixture::TearDown();
    }
    void WriteIni(const std::string& from = "", const std::string& to = "") {
        std::string text =
            "[動作環境]\nDBSTRING=" + db_->dsn() + "\nUSERID=" + db_->user() + "\nPASSWD=\n" + test::SettingsIniText();
        if (!from.empty()) text.replace(text.find(from), from.size(), to);
        test::WriteSjisFile(dir_ / "EDI.ini", text);
    }
    bool Start() {
        return InitEnvironment(start_, boxes_, *window_, profile_) &&
               InitMainScreen(start_, boxes_, *window_, clock_, "  OP01  ");
    }

    test::TempDir dir_;
    WorkArea start_;  // the program's own, filled by the start-up
    test::RecordedMessageBoxes boxes_;
    test::FixedClock clock_{LocalDateTime{2026, 12, 5, 9, 0, 0}};
    const cProfile profile_;
    std::unique_ptr<MonitorWindow> window_;
};

TEST_F(MonitorStartupTest, ListsThisTerminalsPartnerCentersWithTheirMethodNames) {
    WriteIni();
    const std::string me = profile_.machine();
    // 相手先種別 1 and the other terminal's center are not listed; method M has no 区分マスタ row.
    for (const test::CenterRow& row : {test::CenterRow{.code = "C300", .terminal = me},
                                       test::CenterRow{.code = "C100", .method = "M", .terminal = me},
                                       test::CenterRow{.code = "C200", .partner_kind = "1", .terminal = me},
                                       test::CenterRow{.code = "C400", .terminal = "another-terminal"}}) {
        Exec(test::CenterSql(row));
    }
    Exec("INSERT INTO 区分マスタ (区分, 区分ｺｰﾄﾞ, 区分名称) VALUES ('送受信方式', 'Z', 'リンク')");

    ASSERT_TRUE(Start()) << (boxes_.shown().empty() ? "" : boxes_.shown()[0].text);
    EXPECT_TRUE(boxes_.shown().empty());
    const auto* grid = window_->findChild<QTableWidget*>(QStringLiteral("GRID"));
    ASSERT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(grid->currentRow(), 0);
    EXPECT_EQ(window_->windowTitle(), QString::fromUtf8("材料メーカEDI受信"));
    EXPECT_EQ(window_->findChild<QLabel*>(QStringLiteral("lbl_PGID"))->text(), QStringLiteral("G5001001"));
    EXPECT_EQ(test::Cell(*window_, 0, 1) + test::Cell(*window_, 0, 3), QStringLiteral("C100"));
    EXPECT_EQ(test::Cell(*window_, 1, 0) + test::Cell(*window_, 1, 1) + test::Cell(*window_, 1, 2) +
                  test::Cell(*window_, 1, 3),
              QString::fromUtf8("○C300名称C300リンク"));
    EXPECT_EQ(start_.OperatorCode, "OP01");
    EXPECT_EQ(window_->findChild<QLabel*>(QStringLiteral("lbl_OPCD"))->text(), QStringLiteral("OP01"));
    EXPECT_EQ(window_->findChild<QLabel*>(QStringLiteral("lbl_DATE"))->text(), QStringLiteral("2026/12/05"));
    const StatusColors& c = start_.Colors;  // read leniently: 通常 missing, エラー "255abc"
    EXPECT_EQ((std::vector<double>{c.Normal, c.Error, c.Done, c.Running}),
              (std::vector<double>{0, 255, 32768, 16711680}));
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
        {"bad font flag", [](MonitorStartupTest& t) { t.WriteIni("TextFontBold=False", "TextFontBold=abc"); },
         kAppearanceError},
        {"program folder under the root", [](MonitorStartupTest& t) { t.start_.ProgramFolder = "/bin"; },
         kIniReadError},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        boxes_ = test::RecordedMessageBoxes();
        start_ = WorkArea();
        start_.ProgramFolder = dir_ / "edi" / "bin";
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
