#include "monitor/MonitorWindow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <filesystem>

#include "monitor/Appearance.h"
#include "monitor/EntryRules.h"
#include "support/TestSupport.h"

namespace edi {
namespace {

// One application object for the suite, on the offscreen platform.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "monitor_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] const auto* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class MonitorWindowTest : public ::testing::Test {
protected:
    MonitorWindowTest() : clock_(LocalDateTime{2026, 12, 5, 14, 30, 10}) {
        for (const char* code : {"C001", "C002", "C003"}) {
            CenterEntry entry;
            entry.CenterCode = code;
            entry.CenterName = std::string("センター") + code;
            entry.Method = "Z";
            work_.Centers.push_back(entry);
        }
        work_.Colors = {0x000000, 0x0000FF, 0x008000, 0xFF0000};
        window_ = std::make_unique<MonitorWindow>(work_, boxes_, clock_);
        window_->ClearScreenFields();
        window_->PrepareLabels("2026/12/05");
        window_->FillCenterGrid([](const std::string& m) { return m == "Z" ? std::string("リンク") : std::string(); });
        window_->SetRunStarter(EachRow([this](int row) {
            ran_.push_back(row);
            State(row, 1);
            Stage(row, 4, "OK");
            State(row, row == 1 ? 9 : 2);
        }));
        window_->show();
        QApplication::setActiveWindow(window_.get());
        grid_ = window_->findChild<QTableWidget*>(QStringLiteral("GRID"));
        sdate_ = window_->findChild<QLineEdit*>(QStringLiteral("SDATE"));
        ktime_ = window_->findChild<QLineEdit*>(QStringLiteral("KTIME"));
    }

    // A run that does the job of each row in turn.
    static MonitorWindow::RunStarter EachRow(std::function<void(int row)> job) {
        return [job](const std::vector<int>& rows) {
            for (const int row : rows) job(row);
            return RunReport{};
        };
    }

    // What the job runner does: the row's field first, then the screen.
    void State(int row, std::int16_t state) {
        work_.Centers[static_cast<std::size_t>(row)].RowState = state;
        window_->SetRowState(row, state);
    }
    void Stage(int row, int column, const char* text) {
        if (column == 4) work_.Centers[static_cast<std::size_t>(row)].ReceiveStatus = text;
        window_->ShowStatus(row, column, text);
    }

    // The look of the screenshots, with the titles' font size given.
    static AppearanceSettings Look(const char* title_size) {
        AppearanceSettings look;
        look.FormBackColor = "&HE8E4DC";
        look.Label = LookGroup{0xE8E4DC, 0x303030, "Noto Sans CJK JP", "10", "False", "False", "False", "False"};
        look.Title = LookGroup{0x7A4A1F, 0xFFFFFF, "Noto Sans CJK JP", title_size, "True", "False", "False", "False"};
        look.Text = LookGroup{0xFFFFFF, 0x000000, "Noto Sans Mono CJK JP", "11", "False", "False", "False", "False"};
        look.TextFocusColor = 0xCCFFFF;
        return look;
    }

    QString Cell(int row, int column) const { return grid_->item(row, column)->text(); }
    void ClickCell(int row, int column) {
        const QRect rect = grid_->visualRect(grid_->model()->index(row, column));
        QTest::mouseClick(grid_->viewport(), Qt::LeftButton, {}, rect.center());
    }
    bool ButtonsEnabled() const {
        return window_->findChild<QPushButton*>(QStringLiteral("CMD_0"))->isEnabled() &&
               window_->findChild<QPushButton*>(QStringLiteral("CMD_1"))->isEnabled();
    }
    std::vector<std::string> Messages() const {
        std::vector<std::string> texts;
        for (const MessageRequest& m : boxes_.shown()) texts.push_back(m.text);
        return texts;
    }

    WorkArea work_;
    test::RecordedMessageBoxes boxes_;
    test::FixedClock clock_;
    std::unique_ptr<MonitorWindow> window_;
    std::vector<int> ran_;
    QTableWidget* grid_ = nullptr;
    QLineEdit* sdate_ = nullptr;
    QLineEdit* ktime_ = nullptr;
};

TEST_F(MonitorWindowTest, ShowsEveryCenterMarkedWithItsMethodName) {
    ASSERT_EQ(grid_->rowCount(), 3);
    EXPECT_EQ(Cell(0, 0), QStringLiteral("○"));
    EXPECT_EQ(Cell(1, 1), QStringLiteral("C002"));
    EXPECT_EQ(Cell(1, 3), QString::fromUtf8("リンク"));
    EXPECT_EQ(Cell(2, 4), QString());
    EXPECT_EQ(grid_->currentRow(), 0);
    EXPECT_EQ(grid_->columnWidth(2), 333) << "5000 twips at 96 dots per inch";
    EXPECT_EQ(grid_->rowHeight(0), 25) << "380 twips";
    EXPECT_EQ(window_->windowTitle(), QString::fromUtf8("材料メーカEDI受信"));
    EXPECT_EQ(window_->findChild<QLabel*>(QStringLiteral("lbl_PGID"))->text(), QStringLiteral("G5001001"));
    EXPECT_EQ(work_.InputFieldCount, 2);
}

TEST_F(MonitorWindowTest, ClicksSelectFirstAndFlipOnTheSecond) {
    ClickCell(0, 0);
    EXPECT_EQ(Cell(0, 0), QStringLiteral("×")) << "row 0 is selected after start-up: the first click flips";
    ClickCell(2, 1);
    EXPECT_EQ(Cell(2, 0), QStringLiteral("○")) << "a first click only selects";
    ClickCell(2, 0);
    EXPECT_EQ(Cell(2, 0), QStringLiteral("×"));
    ClickCell(2, 2);
    EXPECT_EQ(Cell(2, 0), QStringLiteral("×")) << "the name cell never flips";
}

TEST_F(MonitorWindowTest, SpaceFlipsTheRowsOfADownwardSelection) {
    grid_->setFocus();
    ClickCell(0, 2);
    QTest::keyClick(grid_, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(grid_, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(grid_, Qt::Key_Space);
    EXPECT_EQ(Cell(0, 0) + Cell(1, 0) + Cell(2, 0), QStringLiteral("×××"));
    ClickCell(2, 2);
    QTest::keyClick(grid_, Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(grid_, Qt::Key_Space);
    EXPECT_EQ(Cell(1, 0) + Cell(2, 0), QStringLiteral("××")) << "an upward selection flips nothing";
}

TEST_F(MonitorWindowTest, EntryFieldsRefuseForeignCharactersAndNormaliseOnEnter) {
    sdate_->setFocus();
    QTest::keyClicks(sdate_, QStringLiteral("a-.:"));
    EXPECT_EQ(sdate_->text(), QString());
    QTest::keyClicks(sdate_, QStringLiteral("20261207"));
    QTest::keyClick(sdate_, Qt::Key_Return);
    EXPECT_EQ(sdate_->text(), QStringLiteral("2026/12/07"));
    EXPECT_EQ(window_->focusWidget(), ktime_) << "a valid date moves on";
    QTest::keyClicks(ktime_, QStringLiteral("12/45"));
    EXPECT_EQ(ktime_->text(), QStringLiteral("1245"));
    QTest::keyClick(ktime_, Qt::Key_Return);
    EXPECT_EQ(ktime_->text(), QStringLiteral("12:45"));
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(MonitorWindowTest, EditingKeysWorkInTheEntryFieldsWhileOtherCharactersStayOut) {
    sdate_->setFocus();
    QTest::keyClicks(sdate_, QStringLiteral("2026/12/07"));
    QTest::keyClick(sdate_, Qt::Key_Home);
    EXPECT_EQ(sdate_->cursorPosition(), 0);
    QTest::keyClick(sdate_, Qt::Key_Delete);
    EXPECT_EQ(sdate_->text(), QStringLiteral("026/12/07"));
    QTest::keyClick(sdate_, Qt::Key_End);
    EXPECT_EQ(sdate_->cursorPosition(), 9);
    QTest::keyClick(sdate_, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(sdate_->selectedText(), sdate_->text());
    QTest::keyClicks(sdate_, QStringLiteral("x:"));
    EXPECT_EQ(sdate_->text(), QStringLiteral("026/12/07")) << "foreign characters still stay out";
    QApplication::clipboard()->setText(QStringLiteral("12:30"));
    QTest::keyClick(sdate_, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(sdate_->text(), QStringLiteral("026/12/07")) << "nor are they pasted";
    QTest::keyClick(sdate_, Qt::Key_Tab);
    EXPECT_EQ(window_->focusWidget(), ktime_);
    QTest::keyClick(ktime_, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(ktime_->text(), QStringLiteral("12:30"));
}

TEST_F(MonitorWindowTest, TitlesAreAsLargeAsTheirTextInTheirFont) {
    for (const char* size : {"9", "18"}) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(ApplyAppearance(*window_, Look(size)));
        window_->LayoutControls();
        for (const QLabel* title : window_->findChildren<QLabel*>()) {
            if (!title->objectName().startsWith(QStringLiteral("tit_"))) continue;
            SCOPED_TRACE(title->objectName().toStdString());
            const QFontMetrics metrics(title->font());
            EXPECT_GE(title->contentsRect().width(), metrics.horizontalAdvance(title->text()));
            EXPECT_GE(title->contentsRect().height(), metrics.height());
        }
        const auto* mark_title = window_->findChild<QLabel*>(QStringLiteral("tit_chk"));
        EXPECT_GE(grid_->columnWidth(0), mark_title->width()) << "the column is as wide as its title";
        EXPECT_GE(window_->width(), grid_->geometry().right()) << "nothing falls off the window";
    }
}

TEST_F(MonitorWindowTest, ASelectedRowStillShowsTheColourOfItsState) {
    State(1, 9);
    ClickCell(1, 2);
    ASSERT_TRUE(grid_->item(1, 1)->isSelected());
    const QImage image = grid_->viewport()->grab().toImage();
    const QRect row = grid_->visualRect(grid_->model()->index(1, 1)).united(grid_->visualRect(grid_->model()->index(1, 2)));
    int red = 0;
    for (int y = row.top(); y <= row.bottom(); ++y) {
        for (int x = row.left(); x <= row.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 120 && c.red() > 2 * c.green() && c.red() > 2 * c.blue()) ++red;
        }
    }
    EXPECT_GT(red, 10) << "the failed row's red shows while it is selected";
}

TEST_F(MonitorWindowTest, AFullDateFieldMovesOnOnlyOnTheFirstKey) {
    sdate_->setFocus();
    sdate_->setText(QStringLiteral("2026/12/0"));
    QTest::keyClick(sdate_, Qt::Key_9);
    EXPECT_EQ(sdate_->text(), QStringLiteral("2026/12/09"));
    EXPECT_EQ(window_->focusWidget(), ktime_);
    sdate_->setFocus();
    sdate_->setText(QStringLiteral("2026/12/1"));
    sdate_->end(false);
    QTest::keyClick(sdate_, Qt::Key_0);
    EXPECT_EQ(window_->focusWidget(), sdate_) << "later keys in the date field never move on";
}

TEST_F(MonitorWindowTest, ArmingChecksTheFieldsFirst) {
    window_->OnCommand(0);
    EXPECT_EQ(Messages(), std::vector<std::string>{kBadDate});
    EXPECT_EQ(work_.RunState, 0);
    EXPECT_EQ(window_->focusWidget(), sdate_);
    sdate_->setText(QStringLiteral("2026/12/05"));
    ktime_->setText(QStringLiteral("14:30"));
    window_->OnCommand(0);
    EXPECT_EQ(boxes_.shown().back().text, kPastTime) << "the current minute is refused";
    EXPECT_EQ(work_.RunState, 0);
}

TEST_F(MonitorWindowTest, TheArmedScheduleRunsEveryMarkedRowOnceAtItsMinute) {
    work_.Centers[1].RunFlag = false;
    sdate_->setText(QStringLiteral("2026/12/05"));
    ktime_->setText(QStringLiteral("1431"));
    window_->OnCommand(0);
    ASSERT_EQ(work_.RunState, 2);
    EXPECT_FALSE(ButtonsEnabled());
    EXPECT_EQ(ktime_->text(), QStringLiteral("14:31"));
    window_->OnTimer(LocalDateTime{2026, 12, 5, 14, 30, 59});
    EXPECT_TRUE(ran_.empty());
    window_->OnTimer(LocalDateTime{2026, 12, 5, 14, 31, 0});
    EXPECT_EQ(ran_, (std::vector<int>{0, 2}));
    EXPECT_EQ(work_.RunState, 0);
    EXPECT_TRUE(ButtonsEnabled());
    window_->OnTimer(LocalDateTime{2026, 12, 5, 14, 31, 1});
    EXPECT_EQ(ran_.size(), 2u) << "the schedule is used once";
    EXPECT_EQ(grid_->item(0, 1)->foreground().color(), QColor(0, 0x80, 0)) << "done colour 0x008000";
}

TEST_F(MonitorWindowTest, RunNowSkipsRowsThatRan) {
    window_->OnCommand(1);
    EXPECT_EQ(ran_, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(Cell(1, 4), QStringLiteral("OK"));
    EXPECT_EQ(work_.Centers[1].ReceiveStatus, "OK");
    EXPECT_EQ(grid_->item(1, 0)->foreground().color(), QColor(0xFF, 0, 0)) << "error colour 0x0000FF is red";
    window_->OnCommand(1);
    EXPECT_EQ(ran_.size(), 3u);
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_EQ(work_.RunState, 0);
}

TEST_F(MonitorWindowTest, ARunThatCouldNotStartSaysWhy) {
    const struct {
        RunEnd end;
        DbFailure failure;
        const char* message;
    } cases[] = {{RunEnd::kLocked, DbFailure::kNone, kRunLocked},
                 {RunEnd::kLockFailed, DbFailure::kNone, kRunLockError},
                 {RunEnd::kHistoryFailed, DbFailure::kOther, kRunHistoryError},
                 {RunEnd::kHistoryFailed, DbFailure::kBusy, kRunDatabaseBusy},
                 {RunEnd::kHistoryFailed, DbFailure::kLost, kRunDatabaseLost}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        window_->SetRunStarter([&](const std::vector<int>&) {
            RunReport report;
            report.end = c.end;
            report.failure = c.failure;
            return report;
        });
        window_->OnCommand(1);
        ASSERT_FALSE(boxes_.shown().empty());
        EXPECT_EQ(boxes_.shown().back().text, c.message);
        EXPECT_EQ(boxes_.shown().back().icon, MessageIcon::kExclamation);
        EXPECT_EQ(Cell(0, 4), QString()) << "no row changed";
        EXPECT_TRUE(ButtonsEnabled());
    }
}

TEST_F(MonitorWindowTest, EscAsksOnlyWhereItShould) {
    sdate_->setText(QStringLiteral("2026/12/06"));
    ktime_->setText(QStringLiteral("08:00"));
    window_->OnCommand(0);
    ASSERT_EQ(work_.RunState, 2);
    ktime_->setFocus();
    QTest::keyClick(ktime_, Qt::Key_Escape);
    EXPECT_TRUE(boxes_.shown().empty()) << "armed: Esc in a field is ignored";
    boxes_.SetNextAnswer(MessageAnswer::kNo);
    grid_->setFocus();
    QTest::keyClick(grid_, Qt::Key_Escape);
    EXPECT_EQ(Messages(), std::vector<std::string>{kConfirmExit}) << "the grid asks in every state";
    EXPECT_FALSE(window_->EndRequested());
    EXPECT_FALSE(window_->close()) << "the close box is refused while armed";
    EXPECT_EQ(boxes_.shown().size(), 1u) << "without a message";
}

TEST_F(MonitorWindowTest, IdleEscAsksOnceAndYesEnds) {
    grid_->setFocus();
    boxes_.SetNextAnswer(MessageAnswer::kNo);
    QTest::keyClick(grid_, Qt::Key_Escape);
    EXPECT_EQ(boxes_.shown().size(), 1u);
    EXPECT_FALSE(window_->EndRequested());
    boxes_.SetNextAnswer(MessageAnswer::kYes);
    EXPECT_TRUE(window_->close());
    EXPECT_TRUE(window_->EndRequested());
}

// The window as an operator sees it, for the README and for review: after start-up,
// during a job, after a run with one good and one failed row, and while armed.
TEST_F(MonitorWindowTest, WritesScreenshots) {
    const std::filesystem::path dir = K500100_SCREENSHOT_DIR;
    std::filesystem::create_directories(dir);
    const AppearanceSettings look = Look("10");
    ASSERT_TRUE(ApplyAppearance(*window_, look));
    window_->LayoutControls();
    work_.Appearance = look;
    const auto shot = [&](const char* name) {
        const auto path = dir / name;
        EXPECT_TRUE(window_->grab().save(QString::fromStdString(path.string())));
        EXPECT_GT(std::filesystem::file_size(path), 1000u);
    };
    shot("startup.png");
    bool grabbed = false;
    window_->SetRunStarter(EachRow([&](int row) {
        State(row, 1);
        Stage(row, 4, "OK");
        Stage(row, 5, row == 1 ? "変換ｴﾗｰ" : "OK");
        if (row == 1) {
            State(row, 9);
            return;
        }
        Stage(row, 6, "登録中");
        if (row == 2 && !grabbed) {
            shot("during-job.png");
            grabbed = true;
        }
        Stage(row, 6, "OK");
        State(row, 2);
    }));
    window_->OnCommand(1);
    EXPECT_TRUE(grabbed);
    shot("after-run.png");
    sdate_->setText(QStringLiteral("2026/12/06"));
    ktime_->setText(QStringLiteral("06:30"));
    window_->OnCommand(0);
    ASSERT_EQ(work_.RunState, 2);
    shot("armed.png");
}

}  // namespace
}  // namespace edi
