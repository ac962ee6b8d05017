#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "WindowFixture.h"
#include "monitor/Appearance.h"
#include "monitor/EntryRules.h"
#include "monitor/MonitorWindow.h"
#include "monitor/ProgressWindow.h"
#include "support/TestSupport.h"

namespace edi {
namespace {

// One application object for the suite, on the offscreen platform.
class QtEnvironment : public ::testing::Environment {
    void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }
    int argc_ = 1;
    char name_[14] = "monitor_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] const auto* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class MonitorWindowTest : public ::testing::Test {
protected:
    MonitorWindowTest() {
        test::AddCenters(work_, {"C001", "C002", "C003"});
        window_ = test::OpenWindow(work_, boxes_, clock_);
        // What the job runner does for each row: the row's fields first, then the screen.
        window_->SetRunStarter([this](const std::vector<int>& rows) {
            for (const int row : rows) {
                ran_.push_back(row);
                State(row, 1);
                work_.Centers[static_cast<std::size_t>(row)].ReceiveStatus = "OK";
                window_->ShowStatus(row, 4, "OK");
                State(row, row == 1 ? 9 : 2);
            }
            return RunReport{};
        });
        grid_ = window_->findChild<QTableWidget*>(QStringLiteral("GRID"));
        sdate_ = window_->findChild<QLineEdit*>(QStringLiteral("SDATE"));
        ktime_ = window_->findChild<QLineEdit*>(QStringLiteral("KTIME"));
    }

    void State(int row, std::int16_t state) {
        work_.Centers[static_cast<std::size_t>(row)].RowState = state;
        window_->SetRowState(row, state);
    }
    void Arm(const char* date, const char* time) {
        sdate_->setText(QString::fromUtf8(date));
        ktime_->setText(QString::fromUtf8(time));
        window_->OnCommand(0);
    }

    QString Cell(int row, int column) const { return test::Cell(*window_, row, column); }
    QString Marks() const { return Cell(0, 0) + Cell(1, 0) + Cell(2, 0); }
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
    test::FixedClock clock_{LocalDateTime{2026, 12, 5, 14, 30, 10}};
    std::unique_ptr<MonitorWindow> window_;
    std::vector<int> ran_;
    QTableWidget* grid_ = nullptr;
    QLineEdit* sdate_ = nullptr;
    QLineEdit* ktime_ = nullptr;
};

// Which clicks and selections flip a mark is CenterMarks' (see its tables); here, that the grid asks it.
TEST_F(MonitorWindowTest, ClicksAndSpaceFlipMarksAsCenterMarksSays) {
    test::Shot(*window_, "startup.png");
    ClickCell(2, 1);
    EXPECT_EQ(Marks(), QString::fromUtf8("○○○")) << "the first click only selects";
    ClickCell(2, 0);
    EXPECT_EQ(Marks(), QString::fromUtf8("○○×"));
    grid_->setFocus();
    ClickCell(0, 2);
    QTest::keyClick(grid_, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(grid_, Qt::Key_Space);
    EXPECT_EQ(Marks(), QStringLiteral("×××"));
    ClickCell(2, 2);
    QTest::keyClick(grid_, Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(grid_, Qt::Key_Space);
    EXPECT_EQ(Marks(), QStringLiteral("×××")) << "an upward selection flips nothing";
}

// The fields' rules are EntryRules' (see its tables); here, that the window applies them.
TEST_F(MonitorWindowTest, EntryFieldsFilterTypedAndPastedTextNormaliseOnEnterAndMoveOnWhenFull) {
    sdate_->setFocus();
    sdate_->setText(QStringLiteral("2026/12/0"));
    QTest::keyClick(sdate_, Qt::Key_9);
    EXPECT_EQ(window_->focusWidget(), ktime_) << "the first key that fills the date moves on";
    sdate_->setFocus();
    sdate_->setText(QStringLiteral("2026/12/1"));
    QTest::keyClick(sdate_, Qt::Key_0);
    EXPECT_EQ(window_->focusWidget(), sdate_) << "later keys in the date field never move on";

    sdate_->clear();
    QTest::keyClicks(sdate_, QStringLiteral("2026a/12/0"));
    QApplication::clipboard()->setText(QStringLiteral("12:30"));
    sdate_->selectAll();
    QTest::keyClick(sdate_, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(sdate_->text(), QStringLiteral("2026/12/0")) << "foreign characters are neither typed nor pasted";
    sdate_->setText(QStringLiteral("20261207"));
    QTest::keyClick(sdate_, Qt::Key_Return);
    EXPECT_EQ(sdate_->text(), QStringLiteral("2026/12/07"));
    EXPECT_EQ(window_->focusWidget(), ktime_) << "a valid date moves on";
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(MonitorWindowTest, TitlesAreAsLargeAsTheirTextInTheirFont) {
    ASSERT_TRUE(ApplyAppearance(*window_, test::ScreenLook("18")));
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

TEST_F(MonitorWindowTest, ASelectedRowStillShowsTheColourOfItsState) {
    State(1, 9);
    ClickCell(1, 2);
    ASSERT_TRUE(grid_->item(1, 1)->isSelected());
    const QImage image = grid_->viewport()->grab().toImage();
    const QRect row =
        grid_->visualRect(grid_->model()->index(1, 1)).united(grid_->visualRect(grid_->model()->index(1, 2)));
    int red = 0;
    for (int y = row.top(); y <= row.bottom(); ++y) {
        for (int x = row.left(); x <= row.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red += c.red() > 120 && c.red() > 2 * c.green() && c.red() > 2 * c.blue();
        }
    }
    EXPECT_GT(red, 10) << "the failed row's red shows while it is selected";
}

TEST_F(MonitorWindowTest, TheArmedScheduleRunsEveryMarkedRowOnceAtItsMinuteAfterTheFieldsPassTheirChecks) {
    window_->OnCommand(0);
    EXPECT_EQ(Messages(), std::vector<std::string>{kBadDate});
    EXPECT_EQ(window_->focusWidget(), sdate_);
    Arm("2026/12/05", "14:30");
    EXPECT_EQ(Messages(), (std::vector<std::string>{kBadDate, kPastTime})) << "the current minute is refused";
    EXPECT_EQ(work_.RunState, 0);

    work_.Centers[1].RunFlag = false;
    Arm("2026/12/05", "1431");
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
    Arm("2026/12/06", "06:30");
    test::Shot(*window_, "armed.png");
}

TEST_F(MonitorWindowTest, RunNowSkipsRowsThatRan) {
    window_->OnCommand(1);
    EXPECT_EQ(ran_, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(Cell(1, 4), QStringLiteral("OK"));
    EXPECT_EQ(work_.Centers[1].ReceiveStatus, "OK");
    EXPECT_EQ(grid_->item(1, 0)->foreground().color(), QColor(0xFF, 0, 0)) << "error colour 0x0000FF is red";
    test::Shot(*window_, "after-run.png");
    window_->OnCommand(1);
    EXPECT_EQ(ran_.size(), 3u);
    EXPECT_TRUE(ButtonsEnabled());
    EXPECT_EQ(work_.RunState, 0);
    boxes_.SetNextAnswer(MessageAnswer::kYes);
    EXPECT_TRUE(window_->close()) << "an idle close asks, and Yes ends";
    EXPECT_EQ(Messages(), std::vector<std::string>{kConfirmExit});
    EXPECT_TRUE(window_->EndRequested());
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
    grid_->setFocus();
    boxes_.SetNextAnswer(MessageAnswer::kNo);
    QTest::keyClick(grid_, Qt::Key_Escape);
    EXPECT_EQ(Messages(), std::vector<std::string>{kConfirmExit}) << "idle: the grid asks once";
    Arm("2026/12/06", "08:00");
    ASSERT_EQ(work_.RunState, 2);
    ktime_->setFocus();
    QTest::keyClick(ktime_, Qt::Key_Escape);
    EXPECT_EQ(boxes_.shown().size(), 1u) << "armed: Esc in a field is ignored";
    boxes_.SetNextAnswer(MessageAnswer::kNo);
    grid_->setFocus();
    QTest::keyClick(grid_, Qt::Key_Escape);
    EXPECT_EQ(Messages(), (std::vector<std::string>{kConfirmExit, kConfirmExit})) << "the grid asks in every state";
    EXPECT_FALSE(window_->close()) << "the close box is refused while armed";
    EXPECT_EQ(boxes_.shown().size(), 2u) << "without a message";
    EXPECT_FALSE(window_->EndRequested());
}

TEST(ProgressWindowTest, ListsTheLinesOfOneTransfer) {
    ProgressWindow window;
    ProgressView& view = window;
    view.Clear();
    view.Show();
    view.AddLine("ログオン");
    view.AddLine("受信中");
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(window.List()->count(), 2);
    EXPECT_EQ(window.List()->item(1)->text(), QString::fromUtf8("受信中"));
    view.Close();
    EXPECT_FALSE(window.isVisible());
    view.Clear();
    EXPECT_EQ(window.List()->count(), 0);
}

// The screenshots' look, with flags written as numbers and in lower case.
AppearanceSettings NumberedLook() {
    AppearanceSettings a = test::ScreenLook("14");
    a.Label.FontStrikethru = "0";
    a.Text.FontBold = "-1";
    a.Text.FontUnderline = "false";
    return a;
}

TEST(AppearanceTest, ControlsTakeTheLookOfTheirNamePrefix) {
    QWidget screen;
    auto* opr = new QLabel(&screen);
    opr->setObjectName(QStringLiteral("OPR_NAME"));
    auto* title = new QLabel(&screen);
    title->setObjectName(QStringLiteral("tit_MAIN"));
    auto* plain = new QLabel(&screen);
    plain->setObjectName(QStringLiteral("Label2"));
    const QFont plain_font = plain->font();
    auto* field = new QLineEdit(&screen);

    ASSERT_TRUE(ApplyAppearance(screen, NumberedLook()));
    EXPECT_EQ(opr->palette().color(QPalette::WindowText), QColor(0x30, 0x30, 0x30));
    EXPECT_EQ(title->palette().color(QPalette::Window), QColor(0x1F, 0x4A, 0x7A)) << "numbers are blue-green-red";
    EXPECT_DOUBLE_EQ(title->font().pointSizeF(), 14);
    EXPECT_EQ(plain->font(), plain_font) << "Label2 keeps its own look";
    EXPECT_TRUE(field->font().bold());
    EXPECT_FALSE(field->font().underline());
    EXPECT_EQ(screen.palette().color(QPalette::Window), QColor(0xDC, 0xE4, 0xE8));

    SetFieldColor(*field, "1", NumberedLook());
    EXPECT_EQ(field->palette().color(QPalette::Base), QColor(0xFF, 0xFF, 0xCC)) << "focus colour 0xCCFFFF";
    SetFieldColor(*field, "2", NumberedLook());
    EXPECT_EQ(field->palette().color(QPalette::Base), QColor(255, 255, 255));
}

TEST(AppearanceTest, ABadSettingFailsTheWholeApplication) {
    struct Row {
        const char* name;
        void (*spoil)(AppearanceSettings&);
    };
    const Row rows[] = {
        {"size not a number", [](AppearanceSettings& a) { a.Label.FontSize = "large"; }},
        {"unknown font", [](AppearanceSettings& a) { a.Title.FontName = "No Such Font 123"; }},
        {"form colour not a number", [](AppearanceSettings& a) { a.FormBackColor = "grey"; }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        AppearanceSettings a = NumberedLook();
        r.spoil(a);
        QWidget screen;
        EXPECT_FALSE(ApplyAppearance(screen, a));
    }
}

}  // namespace
}  // namespace edi
