// The window with real jobs: a SQLite database, the job runner and the run, fakes for the
// converter and the registration program. The jobs run on the session thread as in the program,
// or (for the history view) inside the event that starts them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>

#include "JobFixture.h"
#include "WindowFixture.h"
#include "monitor/Appearance.h"
#include "monitor/HistoryView.h"
#include "monitor/UiThread.h"
#include "startup/SessionThread.h"
#include "transfer/ReceiveRun.h"

namespace edi {
namespace {

// Runs a check on the user-interface thread when a job is about to start its receive stage.
class FirstStageWatch final : public JobDisplay {
public:
    FirstStageWatch(JobDisplay& next, QObject* context) : next_(next), context_(context) {}
    void ShowStatus(int row, int column, const std::string& text) override {
        if (column == kReceiveColumn && text == "受信中" && check) OnThreadOf(context_, check, true);
        next_.ShowStatus(row, column, text);
    }
    void SetRowState(int row, std::int16_t state) override { next_.SetRowState(row, state); }
    void MakeRowCurrent(int row) override { next_.MakeRowCurrent(row); }
    std::function<void()> check;

private:
    JobDisplay& next_;
    QObject* context_;
};

class PaintCounter final : public QObject {
public:
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
        job_ = work_;
        job_.Db.reset();
        job_.Centers.clear();
        test::AddCenters(job_, {"CIILINK", "OTHER"});
        for (const char* code : {"CIILINK", "OTHER"}) {
            Center(code, "Z", Folder("link") + code + ".dat", "C");
            Partner(code, "PARTNER01");
            test::WriteFile(dir_ / "link" / (code + std::string(".dat")), std::string_view("message of a center"));
        }
        // While held, the conversion keeps the processor busy as a large file does, until let go (or 60 s).
        converters_.on_local = [this] {
            entered = true;
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (hold && !released && std::chrono::steady_clock::now() < give_up) {
            }
        };
        window_ = test::OpenWindow(job_, boxes_, clock_);
        ASSERT_TRUE(ApplyAppearance(*window_, job_.Appearance = test::ScreenLook()));
        window_->LayoutControls();
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
    std::atomic<bool> stop_{false};
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
    ASSERT_TRUE(test::WaitFor([&] { return entered && test::Cell(*window_, 0, 5) == QStringLiteral("変換中"); }, 60000))
        << "the conversion never showed";
    EXPECT_EQ(checked, 1);
    EXPECT_EQ(test::Cell(*window_, 0, 4), QStringLiteral("OK"));
    EXPECT_EQ(Grid(*window_)->item(0, 1)->foreground().color(), QColor(0, 0, 0xFF)) << "running colour 0xFF0000";
    EXPECT_FALSE(window_->findChild<QPushButton*>(QStringLiteral("CMD_1"))->isEnabled());
    test::Shot(*window_, "job-in-progress.png");
    test::Shot(*progress, "job-in-progress-window.png");

    // The event loop answers while the conversion works: a 50 ms timer keeps its beat.
    std::vector<qint64> late;
    QElapsedTimer clock;
    QTimer beat;
    beat.setInterval(50);
    QObject::connect(&beat, &QTimer::timeout, [&] { late.push_back(clock.restart() - 50); });
    clock.start();
    beat.start();
    QTest::qWait(1000);
    beat.stop();
    ASSERT_GE(late.size(), 10u);
    std::sort(late.begin(), late.end());
    EXPECT_LT(late[late.size() / 2], 100) << "median delay of the timer in ms";
    EXPECT_TRUE(entered && !released) << "measured while the job converted";

    // Closing asks, then waits for the job in hand: its job row is still open.
    boxes_.SetNextAnswer(MessageAnswer::kYes);
    EXPECT_FALSE(window_->close());
    EXPECT_EQ(boxes_.shown().back().text, kConfirmExit);
    EXPECT_TRUE(window_->EndPending());
    EXPECT_FALSE(window_->EndRequested());
    EXPECT_EQ(Codes(1), (std::vector<std::string>{"0 03 - -", "1 10 0000 0000", "2 31 - -"}));

    released = true;
    ASSERT_TRUE(test::WaitFor([&] { return window_->EndRequested(); }, 60000));
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
