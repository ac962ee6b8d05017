// The window on a SQLite database: its start-up from EDI.ini and the masters, and real jobs
// with the job runner and the run, fakes for the converter and the registration program. The
// jobs run on the session thread as in the program, or (for the history view) inside the event
// that starts them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>
#include <functional>

#include "JobFixture.h"
#include "WindowFixture.h"
#include "monitor/HistoryView.h"
#include "monitor/MonitorStartup.h"
#include "monitor/UiThread.h"
#include "startup/CenterList.h"
#include "startup/SessionThread.h"
#include "startup/Settings.h"
#include "transfer/ReceiveRun.h"

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
        {"missing EDI.ini: an empty data source, where odbc.ini holds one", [](MonitorStartupTest&) {}, kConnectError},
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

// Runs a check on the user-interface thread when a job is about to start its receive stage.
struct FirstStageWatch final : JobDisplay {
    FirstStageWatch(JobDisplay& next, QObject* context) : next_(next), context_(context) {}
    void ShowStatus(int row, int column, const std::string& text) override {
        if (column == kReceiveColumn && text == "受信中" && check) OnThreadOf(context_, check, true);
        next_.ShowStatus(row, column, text);
    }
    void SetRowState(int row, std::int16_t state) override { next_.SetRowState(row, state); }
    void MakeRowCurrent(int row) override { next_.MakeRowCurrent(row); }
    std::function<void()> check;
    JobDisplay& next_;
    QObject* context_;
};

struct PaintCounter final : QObject {
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
    int paints = 0;
};

// Two link centers; the window, the job runner and the run share the fixture's work area.
class JobWindowTest : public test::JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        // The window, the runner and the run share a work area of their own; the fixture's reads the history.
        for (const char* code : {"CIILINK", "OTHER"}) LinkCenter(code);
        job_ = work_;
        job_.Db.reset();
        job_.Centers.clear();
        test::AddCenters(job_, {"CIILINK", "OTHER"});
        // While held, the conversion keeps the processor busy as a large file does, until let go (or 60 s).
        converters_.on_local = [this] {
            entered = true;
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (hold && !released && std::chrono::steady_clock::now() < give_up) {
            }
        };
        window_ = test::OpenWindow(job_, boxes_, clock_);
        display_ = std::make_unique<UiJobDisplay>(*window_, window_.get());
        watch_ = std::make_unique<FirstStageWatch>(*display_, window_.get());
        job_boxes_ = std::make_unique<UiMessageBoxes>(boxes_, window_.get());
        job_runner_ = std::make_unique<JobRunner>(job_, clock_, *job_boxes_, progress_, *watch_, converters_, starter_);
        run_ = std::make_unique<ReceiveRun>(job_, *job_runner_, stop_);
        window_->SetRunStarter([this](const std::vector<int>& rows) { return run_->Run(rows); });
        window_->SetCarryOnStarter([this](std::int32_t serial) { return run_->CarryOn(serial); });
        window_->SetHistoryReader(
            [this](const std::string& center, std::int32_t before) { return ReadCenterHistory(job_, center, before); });
        window_->SetStopRequest([this] { stop_ = true; });
    }
    void TearDown() override {
        window_.reset();
        run_.reset();
        job_runner_.reset();
        job_.Db.reset();
        JobTest::TearDown();
    }
    QTableWidget* Grid(const QWidget& parent) const { return parent.findChild<QTableWidget*>(QStringLiteral("GRID")); }

    WorkArea job_;
    std::atomic<bool> hold{false};
    std::atomic<bool> entered{false};
    std::atomic<bool> released{false};
    std::unique_ptr<MonitorWindow> window_;
    std::unique_ptr<UiJobDisplay> display_;
    std::unique_ptr<FirstStageWatch> watch_;
    std::unique_ptr<UiMessageBoxes> job_boxes_;
    std::unique_ptr<JobRunner> job_runner_;
    std::unique_ptr<ReceiveRun> run_;
};

TEST_F(JobWindowTest, TheWindowStaysLiveDuringAJobAndAClosingWaitsForItsHistory) {
    SessionThread session;
    session.Call([this] { ASSERT_TRUE(db_->Connect(job_)); });
    window_->SetWorker([&session](std::function<void()> task) { session.Post(std::move(task)); });
    hold = true;

    // Before the receive stage starts, the progress window is up, names the center and was drawn.
    QWidget* progress = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QStringLiteral("SUB_FRM")) progress = widget;
    }
    ASSERT_NE(progress, nullptr);
    PaintCounter painted;
    progress->findChild<QLabel*>(QStringLiteral("Label1"))->installEventFilter(&painted);
    int checked = 0;
    watch_->check = [&] {
        ++checked;
        EXPECT_TRUE(progress->isVisible());
        EXPECT_GT(painted.paints, 0);
        EXPECT_TRUE(
            progress->findChild<QLabel*>(QStringLiteral("Label2"))->text().startsWith(QStringLiteral("CIILINK")));
    };

    window_->OnCommand(1);
    // The event loop answers while the conversion works: the stage's status reaches the grid.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return entered && test::Cell(*window_, 0, 5) == QStringLiteral("変換中"); }, 60000))
        << "the conversion never showed";
    EXPECT_EQ(checked, 1);
    EXPECT_EQ(test::Cell(*window_, 0, 4), QStringLiteral("OK"));
    EXPECT_EQ(Grid(*window_)->item(0, 1)->foreground().color(), QColor(0, 0, 0xFF)) << "running colour 0xFF0000";
    EXPECT_FALSE(window_->findChild<QPushButton*>(QStringLiteral("CMD_1"))->isEnabled());
    test::Shot(*window_, "job-in-progress.png");
    test::Shot(*progress, "job-in-progress-window.png");

    // Closing asks, then waits for the job in hand: its job row is still open.
    boxes_.SetNextAnswer(MessageAnswer::kYes);
    EXPECT_FALSE(window_->close());
    EXPECT_EQ(boxes_.shown().back().text, kConfirmExit);
    EXPECT_TRUE(window_->EndPending());
    EXPECT_FALSE(window_->EndRequested());
    EXPECT_EQ(Codes(1), (std::vector<std::string>{"0 03 - -", "1 10 0000 0000", "2 31 - -"}));

    released = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return window_->EndRequested(); }, 60000));
    EXPECT_EQ(Codes(1),
              (std::vector<std::string>{"0 03 0000 0000", "1 10 0000 0000", "2 31 0000 0000", "3 41 00 0000"}))
        << "the job ended its stages and history before the program";
    EXPECT_EQ(Codes(2), std::vector<std::string>{}) << "the next center's job never started";
    EXPECT_EQ(starter_.commands.size(), 1u);
    session.Call([this] { job_.Db.reset(); });
}

TEST_F(JobWindowTest, TheHistoryViewExplainsEveryCodeAndCarriesAFailedJobOn) {
    // The center's good job, then one whose registration program is missing.
    ASSERT_TRUE(db_->Connect(job_));
    ASSERT_TRUE(run_->Run({0}).all_well());
    test::WriteFile(dir_ / "link" / "CIILINK.dat", std::string_view("the second message"));
    const auto registration = starter_.action;
    starter_.action = [](const std::string&) { return false; };
    ASSERT_FALSE(run_->Run({0}).all_well());

    window_->OpenHistory(0);
    HistoryView* view = window_->History();
    ASSERT_NE(view, nullptr);
    QTableWidget* grid = Grid(*view);
    const auto rows = [grid] {
        std::vector<std::string> texts;
        for (int r = 0; r < grid->rowCount(); ++r) {
            std::string text;
            for (const int c : {kColSerial, kColBranch, kColKind, kColEndCode, kColDetail, kColMeaning}) {
                text += (c == kColSerial ? "" : "|") + grid->item(r, c)->text().toStdString();
            }
            texts.push_back(text);
        }
        return texts;
    };
    EXPECT_EQ(rows(), (std::vector<std::string>{
                          "2|0|ジョブ|0000|0000|ジョブは終了、データ登録で失敗（その行を参照）",
                          "|1|　受信|0000|0000|正常終了",
                          "|2|　変換 (ローカル)|0000|0000|終了（成否はジョブの行と ERR.LOG）",
                          "|3|　データ登録|4100|0002|登録プログラムがステータスファイルを残さなかった",
                          "1|0|ジョブ|0000|0000|正常終了",
                          "|1|　受信|0000|0000|正常終了",
                          "|2|　変換 (ローカル)|0000|0000|終了（成否はジョブの行と ERR.LOG）",
                          "|3|　データ登録|00|0000|正常終了（登録済み）",
                      }));
    EXPECT_EQ(grid->item(3, kColFile)->text(), QString()) << "a failed registration names no file";
    EXPECT_EQ(grid->item(7, kColIn)->text(), QStringLiteral("10"));
    EXPECT_EQ(grid->item(0, kColKind)->foreground().color(), QColor(0xFF, 0, 0)) << "the failed job in red";
    auto* carry = view->findChild<QPushButton*>(QStringLiteral("CMD_SAIJIKKO"));
    EXPECT_TRUE(carry->isEnabled()) << "job 2 is selected and may go again";
    test::Shot(*view, "history.png");

    // The program is back: carried on from the view, job 3 registers job 2's message once.
    starter_.action = registration;
    boxes_.SetNextAnswer(MessageAnswer::kYes);
    view->OnCarryOn();
    EXPECT_NE(boxes_.shown().back().text.find("通番 2 の受信ファイルで変換とデータ登録をやり直します"),
              std::string::npos);
    EXPECT_NE(boxes_.shown().back().text.find("業務システムで未登録を確かめて"), std::string::npos)
        << "the program may have run without a status file";
    const std::vector<std::string> after = rows();
    ASSERT_EQ(after.size(), 12u);
    EXPECT_EQ(after[0], "3|0|ジョブ|0000|8102|正常終了（前の処理の受信ファイルで変換・登録をやり直し）　元の通番 2");
    EXPECT_EQ(after[1], "|1|　受信|0000|8102|前の処理の受信ファイルを引き継いだ　元の通番 2");
    EXPECT_EQ(after[3], "|3|　データ登録|00|0000|正常終了（登録済み）");
    EXPECT_EQ(after[4], "2|0|ジョブ|0000|0000|ジョブは終了、データ登録で失敗（その行を参照）　通番 3 で再実行済み");
    EXPECT_EQ(grid->item(1, kColFile)->text(), QStringLiteral("00000003_RCV_CIILINK_____.CII"));
    EXPECT_EQ(starter_.commands.size(), 3u) << "jobs 1, 2 (program missing) and 3: the second message once";
    grid->selectRow(4);
    EXPECT_FALSE(carry->isEnabled()) << "job 2 cannot go a second time";
    EXPECT_EQ(view->findChild<QLabel*>(QStringLiteral("lbl_MSG"))->text(),
              QString::fromUtf8("通番 2: 通番 3 で再実行済みです"));
    grid->selectRow(0);
    test::Shot(*view, "history-after-carry-on.png");
}

}  // namespace
}  // namespace edi
