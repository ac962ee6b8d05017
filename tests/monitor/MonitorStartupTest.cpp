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
        std::string text = "[動作環境]\nDBSTRING=" + db_->dsn() + "\nUSERID=" + db_->user() + "\nPASSWD=\n" + kSettings;
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
    const std::string me = SqlQuote(profile_.machine());
    // 相手先種別 1 and the other terminal's center are not listed; method M has no 区分マスタ row.
    Exec(
        "INSERT INTO FL1903EDI制御マスタ (センターコード, 相手先種別, センター名, 送受信方式, 実行端末名) VALUES "
        "('C300', '2', '名前C300', 'Z', " +
        me + "), ('C100', '2', '名前C100', 'M', " + me +
        "), "
        "('C200', '1', '名前C200', 'Z', " +
        me + "), ('C400', '2', '名前C400', 'Z', 'another-terminal')");
    Exec("INSERT INTO 区分マスタ (区分, 区分ｺｰﾄﾞ, 区分名称) VALUES ('送受信方式', 'Z', 'リンク')");

    ASSERT_TRUE(Start()) << (boxes_.shown().empty() ? "" : boxes_.shown()[0].text);
    EXPECT_TRUE(boxes_.shown().empty());
    ASSERT_EQ(window_->findChild<QTableWidget*>(QStringLiteral("GRID"))->rowCount(), 2);
    EXPECT_EQ(test::Cell(*window_, 0, 1) + test::Cell(*window_, 0, 3), QStringLiteral("C100"));
    EXPECT_EQ(test::Cell(*window_, 1, 0) + test::Cell(*window_, 1, 1) + test::Cell(*window_, 1, 3),
              QString::fromUtf8("○C300リンク"));
    EXPECT_EQ(start_.OperatorCode, "OP01");
    EXPECT_EQ(window_->findChild<QLabel*>(QStringLiteral("lbl_OPCD"))->text(), QStringLiteral("OP01"));
    EXPECT_EQ(window_->findChild<QLabel*>(QStringLiteral("lbl_DATE"))->text(), QStringLiteral("2026/12/05"));
    EXPECT_EQ(start_.Colors.Error, 255);
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
