#include "monitor/MonitorWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "convert/codec/Codec.h"
#include "monitor/Appearance.h"
#include "monitor/CenterMarks.h"
#include "monitor/EntryRules.h"
#include "monitor/FocusRules.h"
#include "monitor/HistoryView.h"
#include "monitor/StateColourDelegate.h"
#include "monitor/UiThread.h"

namespace edi {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
QString Q(const char* text) { return QString::fromUtf8(text); }

// Grid columns: twips widths at least; a title that needs more widens its column.
constexpr std::array<int, 7> kColumnTwips = {550, 1680, 5000, 1160, 1440, 1440, 1440};
constexpr int kRowTwips = 380;
constexpr int kMargin = 12;
constexpr int kScrollBar = 18;

struct TitleSpec {
    const char* name;
    const char* text;
    int first;  // grid columns under the title
    int last;
    bool upper;  // the upper half above the status columns ("状態"), or their lower half
};
constexpr TitleSpec kTitles[] = {
    {"tit_chk", "ｽｹｼﾞｭｰﾙ", 0, 0, false},   {"tit_cnt", "ｾﾝﾀｰｺｰﾄﾞ", 1, 1, false},
    {"tit_cntnm", "ｾﾝﾀｰ名", 2, 2, false},   {"tit_jushinh", "受信方式", 3, 3, false},
    {"tit_jotai", "状態", 4, 6, true},       {"tit_jushin", "受 信", 4, 4, false},
    {"tit_henkan", "変 換", 5, 5, false},    {"tit_data", "データ登録", 6, 6, false},
};

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text,
                  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* label = new QLabel(Q(text), parent);
    label->setObjectName(Q(name));
    label->setAlignment(alignment);
    return label;
}

QLabel* MakeTitle(QWidget* parent, const char* name, const char* text) {
    QLabel* title = MakeLabel(parent, name, text, Qt::AlignCenter);
    title->setFrameShape(QFrame::Box);
    return title;
}

// The room a title's text needs in its font, frame included.
QSize TitleRoom(const QLabel& title) {
    const QFontMetrics metrics(title.font());
    return {metrics.horizontalAdvance(title.text()) + 2 * title.frameWidth() + 10,
            metrics.height() + 2 * title.frameWidth() + 6};
}

bool IsIgnoredKey(int key) {
    return (key >= Qt::Key_F1 && key <= Qt::Key_F12) || key == Qt::Key_Pause || key == Qt::Key_Home ||
           key == Qt::Key_End || key == Qt::Key_PageUp || key == Qt::Key_PageDown || key == Qt::Key_CapsLock;
}

bool IsEnter(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

// A key that would put a character into a field: printable text, no Ctrl, Alt or Meta. Delete,
// Tab, Backspace and the shortcuts (Ctrl+A) are editing keys the field handles as usual.
bool TypesCharacter(const QKeyEvent& event) {
    if (event.text().isEmpty()) return false;
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const char16_t c = event.text().at(0).unicode();
    return c >= 0x20 && c != 0x7F;
}

}  // namespace

MonitorWindow::MonitorWindow(WorkArea& work, MessageBoxes& boxes, const Clock& clock)
    : work_(work), boxes_(boxes), clock_(clock) {
    setObjectName(QStringLiteral("G5001001"));
    setWindowTitle(Q(kProgramTitle));
    BuildControls();
    BuildProgressWindow();
    LayoutControls();
    tmr_ = new QTimer(this);
    tmr_->setObjectName(QStringLiteral("TMR"));
    tmr_->setInterval(kTimerIntervalMs);
    connect(tmr_, &QTimer::timeout, this, [this] { OnTimer(clock_.Now()); });
    tmr_->start();
}

MonitorWindow::~MonitorWindow() {
    if (busy_) QApplication::restoreOverrideCursor();
    delete sub_frm_;
}

void MonitorWindow::BuildControls() {
    pgid_ = MakeLabel(this, "lbl_PGID", "");
    koumoku_ = MakeLabel(this, "lbl__Koumoku", "", Qt::AlignRight | Qt::AlignVCenter);
    opcd_ = MakeLabel(this, "lbl_OPCD", "");
    opnm_ = MakeLabel(this, "lbl_OPNM", "");
    date_ = MakeLabel(this, "lbl_DATE", "", Qt::AlignRight | Qt::AlignVCenter);

    MakeTitle(this, "tit_SDATE", "処理日");
    sdate_ = new QLineEdit(this);
    sdate_->setObjectName(QStringLiteral("SDATE"));
    sdate_->setMaxLength(10);
    MakeTitle(this, "tit_ktime", "開始時刻");
    ktime_ = new QLineEdit(this);
    ktime_->setObjectName(QStringLiteral("KTIME"));
    ktime_->setMaxLength(5);
    // Typed characters pass the entry filter; a pasted text must consist of them too.
    sdate_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9/]*")), sdate_));
    ktime_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9:]*")), ktime_));

    for (const TitleSpec& t : kTitles) MakeTitle(this, t.name, t.text);

    grid_ = new QTableWidget(this);
    grid_->setObjectName(QStringLiteral("GRID"));
    grid_->setColumnCount(7);
    grid_->horizontalHeader()->hide();
    grid_->verticalHeader()->hide();
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::ContiguousSelection);
    grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grid_->setTabKeyNavigation(false);
    grid_->setItemDelegate(new StateColourDelegate(grid_));
    grid_->verticalHeader()->setDefaultSectionSize(Twips(kRowTwips));
    grid_->installEventFilter(this);
    connect(grid_, &QTableWidget::cellPressed, this, [this](int row, int) { anchor_row_ = row; });
    connect(grid_, &QTableWidget::cellClicked, this, [this](int row, int column) {
        // The mark column is fixed: a click there makes column 1 current. No mark changes while a run is on.
        const int current_column = column == 0 ? 1 : column;
        if (!running_ && ToggleMarkByClick(work_, row, current_column)) WriteMark(row);
        SelectWholeRow(row);
    });
    connect(grid_, &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
        if (QApplication::mouseButtons() == Qt::NoButton && !(QApplication::keyboardModifiers() & Qt::ShiftModifier)) {
            anchor_row_ = row;
        }
    });

    const char* captions[] = {"自動実行(&S)", "即時実行(&N)"};
    for (int i = 0; i < 2; ++i) {
        cmd_[static_cast<std::size_t>(i)] = new QPushButton(Q(captions[i]), this);
        QPushButton* button = cmd_[static_cast<std::size_t>(i)];
        button->setObjectName(QStringLiteral("CMD_%1").arg(i));
        button->installEventFilter(this);
        connect(button, &QPushButton::clicked, this, [this, i] { OnCommand(i); });
    }
    history_button_ = new QPushButton(Q("履歴表示(&R)"), this);
    history_button_->setObjectName(QStringLiteral("CMD_RIREKI"));
    connect(history_button_, &QPushButton::clicked, this, [this] { OpenHistory(grid_->currentRow()); });

    for (QLineEdit* field : {sdate_, ktime_}) field->installEventFilter(this);
    setTabOrder(sdate_, ktime_);
    setTabOrder(ktime_, grid_);
    setTabOrder(grid_, cmd_[0]);
    setTabOrder(cmd_[0], cmd_[1]);
    setTabOrder(cmd_[1], history_button_);
}

// The small progress window shown while a run is on: "処理中" and the center being worked on.
void MonitorWindow::BuildProgressWindow() {
    sub_frm_ = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    sub_frm_->setObjectName(QStringLiteral("SUB_FRM"));
    sub_frm_->setWindowTitle(Q(kProgramTitle));
    sub_frm_->setMinimumWidth(260);
    auto* layout = new QVBoxLayout(sub_frm_);
    auto* busy_label = new QLabel(Q("処理中"), sub_frm_);
    busy_label->setObjectName(QStringLiteral("Label1"));
    QFont big = busy_label->font();
    big.setPointSize(18);
    busy_label->setFont(big);
    busy_label->setAlignment(Qt::AlignCenter);
    layout->addWidget(busy_label);
    sub_center_ = new QLabel(sub_frm_);
    sub_center_->setObjectName(QStringLiteral("Label2"));
    sub_center_->setAlignment(Qt::AlignCenter);
    layout->addWidget(sub_center_);
}

void MonitorWindow::LayoutControls() {
    QLabel* titles[std::size(kTitles)];
    for (std::size_t i = 0; i < std::size(kTitles); ++i) titles[i] = findChild<QLabel*>(Q(kTitles[i].name));
    std::array<int, 7> widths{};
    for (std::size_t c = 0; c < widths.size(); ++c) widths[c] = Twips(kColumnTwips[c]);
    int half = 23;  // the height of each half of the two-row titles
    for (std::size_t i = 0; i < std::size(kTitles); ++i) {
        const QSize room = TitleRoom(*titles[i]);
        half = std::max(half, room.height());
        if (kTitles[i].first == kTitles[i].last) {
            auto& width = widths[static_cast<std::size_t>(kTitles[i].first)];
            width = std::max(width, room.width());
        }
    }
    // "状態" spans the status columns: the last of them takes what they lack.
    const int span = widths[4] + widths[5] + widths[6];
    widths[6] += std::max(0, TitleRoom(*titles[4]).width() - span);

    // Header line, then the entry fields, then the titles, the grid and the buttons.
    const int label_height = std::max(22, QFontMetrics(pgid_->font()).height() + 4);
    QLabel* sdate_title = findChild<QLabel*>(QStringLiteral("tit_SDATE"));
    QLabel* ktime_title = findChild<QLabel*>(QStringLiteral("tit_ktime"));
    const int field_height = std::max({26, sdate_->sizeHint().height(), TitleRoom(*sdate_title).height()});
    const int field_top = 10 + label_height + 20;
    const int title_top = field_top + field_height + 14;
    const int grid_top = title_top + 2 * half + 1;

    int x = kMargin + 1;
    std::array<int, 8> left{};
    for (std::size_t c = 0; c < widths.size(); ++c) {
        left[c] = x;
        x += widths[c];
    }
    left[7] = x;
    const int grid_width = x - kMargin + 1 + kScrollBar;
    const int width = grid_width + 2 * kMargin;
    const int grid_height = Twips(kRowTwips) * 14 + 2;
    const int button_height = 38;
    const int height = grid_top + grid_height + 16 + button_height + 14;
    setFixedSize(width, height);

    pgid_->setGeometry(kMargin, 10, 110, label_height);
    const int code_width = std::max(96, QFontMetrics(koumoku_->font()).horizontalAdvance(Q("ｵﾍﾟﾚｰﾀｺｰﾄﾞ")) + 6);
    koumoku_->setGeometry(420, 10, code_width, label_height);
    opcd_->setGeometry(420 + code_width + 6, 10, 90, label_height);
    opnm_->setGeometry(420 + code_width + 100, 10, 130, label_height);
    const int date_width = std::max(100, QFontMetrics(date_->font()).horizontalAdvance(QStringLiteral("0000/00/00")) + 6);
    date_->setGeometry(width - kMargin - date_width, 10, date_width, label_height);

    const int sdate_title_width = std::max(84, TitleRoom(*sdate_title).width());
    sdate_title->setGeometry(kMargin, field_top, sdate_title_width, field_height);
    const int sdate_width =
        std::max(110, QFontMetrics(sdate_->font()).horizontalAdvance(QStringLiteral("0000/00/00")) + 16);
    sdate_->setGeometry(kMargin + sdate_title_width + 4, field_top, sdate_width, field_height);
    const int ktime_left = sdate_->geometry().right() + 20;
    const int ktime_title_width = std::max(84, TitleRoom(*ktime_title).width());
    ktime_title->setGeometry(ktime_left, field_top, ktime_title_width, field_height);
    const int ktime_width = std::max(70, QFontMetrics(ktime_->font()).horizontalAdvance(QStringLiteral("00:00")) + 16);
    ktime_->setGeometry(ktime_left + ktime_title_width + 4, field_top, ktime_width, field_height);

    for (std::size_t i = 0; i < std::size(kTitles); ++i) {
        const TitleSpec& t = kTitles[i];
        const int y = t.upper || t.first < 4 ? title_top : title_top + half + 1;
        const int h = t.first < 4 ? 2 * half : half;
        titles[i]->setGeometry(left[static_cast<std::size_t>(t.first)], y,
                               left[static_cast<std::size_t>(t.last) + 1] - left[static_cast<std::size_t>(t.first)] - 1,
                               h);
    }

    grid_->setGeometry(kMargin, grid_top, grid_width, grid_height);
    for (int c = 0; c < 7; ++c) grid_->setColumnWidth(c, widths[static_cast<std::size_t>(c)]);

    const int button_top = height - button_height - 14;
    for (int i = 0; i < 2; ++i) {
        cmd_[static_cast<std::size_t>(i)]->setGeometry(width - kMargin - (2 - i) * 150 + 8, button_top, 142,
                                                       button_height);
    }
    history_button_->setGeometry(kMargin, button_top, 142, button_height);
}

void MonitorWindow::PrepareLabels(const std::string& today) {
    pgid_->setText(QStringLiteral("G5001001"));
    koumoku_->setText(Q("ｵﾍﾟﾚｰﾀｺｰﾄﾞ"));
    date_->setText(Q(today));
}

void MonitorWindow::ShowOperator() {
    opcd_->setText(Q(work_.OperatorCode));
    opnm_->setText(Q(work_.OperatorName));
}

void MonitorWindow::ClearScreenFields() {
    work_.InputFieldCount = 0;
    for (QLineEdit* field : findChildren<QLineEdit*>()) {
        field->clear();
        ++work_.InputFieldCount;
    }
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->objectName().trimmed().startsWith(QStringLiteral("lbl_"))) label->clear();
    }
    input_fields_ = {sdate_, ktime_};
}

void MonitorWindow::FillCenterGrid(const MethodNamer& method_name) {
    const QColor waiting = ColorFromNumber(work_.Colors.Normal);
    grid_->setRowCount(static_cast<int>(work_.Centers.size()));
    for (int r = 0; r < grid_->rowCount(); ++r) {
        const CenterEntry& c = work_.Centers[static_cast<std::size_t>(r)];
        grid_->setRowHeight(r, Twips(kRowTwips));
        auto* mark = new QTableWidgetItem();
        mark->setTextAlignment(Qt::AlignCenter);
        mark->setBackground(palette().color(QPalette::Button));
        grid_->setItem(r, 0, mark);
        WriteMark(r);
        const std::string texts[] = {c.CenterCode,    c.CenterName,       method_name ? method_name(c.Method) : "",
                                     c.ReceiveStatus, c.ConversionStatus, c.RegistrationStatus};
        for (int col = 1; col <= 6; ++col) {
            auto* item = new QTableWidgetItem(Q(texts[col - 1]));
            item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            item->setForeground(waiting);
            grid_->setItem(r, col, item);
        }
    }
    if (grid_->rowCount() > 0) SelectWholeRow(0);
}

void MonitorWindow::WriteMark(int row) {
    if (QTableWidgetItem* item = grid_->item(row, 0)) {
        item->setText(Q(work_.Centers[static_cast<std::size_t>(row)].RunFlag ? kMarkRun : kMarkSkip));
    }
}

void MonitorWindow::SelectWholeRow(int row) {
    grid_->setCurrentCell(row, 0);
    grid_->clearSelection();
    grid_->setRangeSelected(QTableWidgetSelectionRange(row, 0, row, 6), true);
    anchor_row_ = row;
}

double MonitorWindow::ColourOfState(std::int16_t state) const {
    switch (state) {
        case 1: return work_.Colors.Running;
        case 2: return work_.Colors.Done;
        case 9: return work_.Colors.Error;
        default: return work_.Colors.Normal;
    }
}

void MonitorWindow::MakeRowCurrent(int row) {
    if (row >= 0 && row < grid_->rowCount()) grid_->setCurrentCell(row, grid_->currentColumn() < 0 ? 0 : grid_->currentColumn());
}

// The job runner has written the row's field already; the screen only draws the text.
void MonitorWindow::ShowStatus(int row, int column, const std::string& text) {
    if (QTableWidgetItem* item = grid_->item(row, column)) item->setText(Q(text));
}

void MonitorWindow::SetRowState(int row, std::int16_t state) {
    if (row < 0 || row >= grid_->rowCount()) return;
    MakeRowCurrent(row);
    const QColor colour = ColorFromNumber(ColourOfState(state));
    for (int col = 0; col < grid_->columnCount(); ++col) {
        if (QTableWidgetItem* item = grid_->item(row, col)) item->setForeground(colour);
    }
    if (state == kRowRunning) ShowProgressFor(row);
}

// A job starts: the progress window names its center and is drawn before the job goes on.
void MonitorWindow::ShowProgressFor(int row) {
    const QTableWidgetItem* code = grid_->item(row, 1);
    const QTableWidgetItem* name = grid_->item(row, 2);
    sub_center_->setText((code ? code->text() : QString()) + QStringLiteral("  ") + (name ? name->text() : QString()));
    sub_frm_->adjustSize();
    sub_frm_->show();
    sub_frm_->raise();
    sub_frm_->repaint();
}

void MonitorWindow::SetBusy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void MonitorWindow::EnableButtons(bool enabled) {
    for (QPushButton* button : cmd_) button->setEnabled(enabled);
}

void MonitorWindow::StartRun(std::function<RunReport()> run) {
    running_ = true;
    EnableButtons(false);
    sub_center_->clear();
    sub_frm_->adjustSize();
    sub_frm_->show();
    SetBusy(true);
    emit RunningChanged(true);
    if (!worker_) {
        FinishRun(run());
        return;
    }
    worker_([this, run = std::move(run)] {
        const RunReport report = run();
        OnThreadOf(this, [this, report] { FinishRun(report); }, false);
    });
}

void MonitorWindow::FinishRun(const RunReport& report) {
    running_ = false;
    sub_frm_->hide();
    SetBusy(false);
    work_.RunState = 0;
    EnableButtons(true);
    emit RunningChanged(false);
    if (end_pending_) {
        EndProgram();
        return;
    }
    const std::string why = report.end == RunEnd::kLocked         ? kRunLocked
                            : report.end == RunEnd::kLockFailed     ? kRunLockError
                            : report.end == RunEnd::kHistoryFailed ? std::string(HistoryFailedMessage(report.failure))
                            : report.end == RunEnd::kRefused       ? report.reason_ja
                                                                    : std::string();
    if (!why.empty()) boxes_.Show(MessageRequest{why, kProgramTitle, MessageIcon::kExclamation, MessageButtons::kOk});
}

void MonitorWindow::OnTimer(const LocalDateTime& now) {
    if (work_.RunState != 2) return;
    if (!ScheduleDue(sdate_->text().toStdString(), ktime_->text().toStdString(), now)) return;
    work_.RunState = 1;
    StartRun([this, rows = MarkedRows(work_)] { return run_ ? run_(rows) : RunReport{}; });
}

void MonitorWindow::OnCommand(int index) {
    if (running_) return;
    if (index == 1) {
        StartRun([this, rows = WaitingMarkedRows(work_)] { return run_ ? run_(rows) : RunReport{}; });
    } else if (index == 0) {
        for (int i = 0; i < work_.InputFieldCount && i < static_cast<int>(input_fields_.size()); ++i) {
            QLineEdit* field = input_fields_[static_cast<std::size_t>(i)];
            if (!field->isEnabled()) continue;
            if (CheckField(i) != 0) {
                field->setFocus();
                SelectAllText(*field);
                return;
            }
        }
        SetBusy(true);
        EnableButtons(false);
        work_.RunState = 2;
        // Armed: no carry-on may start until the scheduled run has ended.
        if (history_ != nullptr) history_->SetRunning(true);
    }
}

void MonitorWindow::StartCarryOn(std::int32_t serial) {
    if (running_ || work_.RunState != 0) return;
    StartRun([this, serial] { return carry_on_ ? carry_on_(serial) : RunReport{}; });
}

void MonitorWindow::ReadHistory(const std::string& center, std::int32_t before,
                                std::function<void(const HistoryPage&)> done) {
    if (!worker_) {
        done(history_reader_ ? history_reader_(center, before) : HistoryPage{});
        return;
    }
    worker_([this, center, before, done = std::move(done)] {
        HistoryPage page = history_reader_ ? history_reader_(center, before) : HistoryPage{};
        OnThreadOf(this, [done, page = std::move(page)] { done(page); }, false);
    });
}

void MonitorWindow::OpenHistory(int row) {
    if (row < 0 || row >= grid_->rowCount()) return;
    if (history_ == nullptr) {
        history_ = new HistoryView(work_, boxes_, this);
        history_->SetRunning(running_ || work_.RunState != 0);
        connect(this, &MonitorWindow::RunningChanged, history_, [this](bool running) {
            history_->SetRunning(running || work_.RunState != 0);
            if (!running) history_->Reload();
        });
        history_->SetReader([this](const std::string& center, std::int32_t before,
                                   std::function<void(const HistoryPage&)> done) {
            ReadHistory(center, before, std::move(done));
        });
        history_->SetCarryOn([this](std::int32_t serial) { StartCarryOn(serial); });
    }
    history_->ShowCenter(grid_->item(row, 1)->text().toStdString(), grid_->item(row, 2)->text().toStdString());
}

int MonitorWindow::CheckField(int index) {
    const LocalDateTime now = clock_.Now();
    if (index == 0) {
        sdate_->setText(Q(NormaliseDate(sdate_->text().toStdString(), now.year)));
        return CheckDate(sdate_->text().toStdString(), now, boxes_);
    }
    if (index == 1) {
        ktime_->setText(Q(NormaliseTime(ktime_->text().toStdString())));
        return CheckTime(sdate_->text().toStdString(), ktime_->text().toStdString(), now, boxes_);
    }
    return 0;
}

int MonitorWindow::ActiveFieldIndex() const {
    for (std::size_t i = 0; i < input_fields_.size(); ++i) {
        if (input_fields_[i] == focusWidget()) return static_cast<int>(i);
    }
    return -1;
}

void MonitorWindow::SelectAllText(QLineEdit& field) {
    if (!field.text().isEmpty()) field.selectAll();
}

void MonitorWindow::FieldGotFocus(QLineEdit& field) {
    SetFieldColor(field, "1", work_.Appearance);
    // A focusing click places the caret after this event: select once it is handled.
    QTimer::singleShot(0, &field, [this, &field] { SelectAllText(field); });
}

void MonitorWindow::FieldLostFocus(QLineEdit& field) { SetFieldColor(field, "2", work_.Appearance); }

std::vector<FieldFocusState> FieldStates(const std::vector<QLineEdit*>& fields) {
    std::vector<FieldFocusState> states;
    for (const QLineEdit* f : fields) states.push_back({f->isEnabled(), f->isVisible(), f->isReadOnly()});
    return states;
}

void MonitorWindow::FocusNextField(int key) {
    const int active = ActiveFieldIndex();
    if (active < 0) return;
    const QLineEdit* field = input_fields_[static_cast<std::size_t>(active)];
    const bool empty_or_selected = field->text().isEmpty() || field->selectedText() == field->text();
    if (const auto next = NextFieldIndex(FieldStates(input_fields_), active, key, empty_or_selected)) {
        input_fields_[static_cast<std::size_t>(*next)]->setFocus();
    }
}

void MonitorWindow::FocusPreviousField() {
    const int active = ActiveFieldIndex();
    if (active < 0) return;
    if (const auto previous = PreviousFieldIndex(FieldStates(input_fields_), active)) {
        input_fields_[static_cast<std::size_t>(*previous)]->setFocus();
    }
}

void MonitorWindow::CheckFullField(QLineEdit& field, int key, Qt::KeyboardModifiers modifiers) {
    const int index = ActiveFieldIndex();
    if ((modifiers & Qt::ShiftModifier) || key == Qt::Key_Up || key == Qt::Key_Down || IsEnter(key) ||
        key == Qt::Key_Escape || key == Qt::Key_Shift || key == Qt::Key_Control || index < 0 ||
        index == work_.InputFieldCount - 1 || !isVisible()) {
        return;
    }
    const int max = field.maxLength();
    const std::string text = field.text().toStdString();
    if (AnsiLenB(text) > max) {
        field.setText(Q(AnsiLeftB(text, max)));
        field.setCursorPosition(static_cast<int>(field.text().size()));
    }
    const bool at_end = field.cursorPosition() == max ||
                        (field.hasSelectedText() && field.selectedText() == field.text()) ||
                        (field.selectionStart() >= 0 && field.selectionStart() + field.selectedText().size() == max &&
                         field.selectedText().size() == 1);
    if (AnsiLenB(field.text().toStdString()) == max && at_end) {
        if (CheckField(index) == 0) {
            FocusNextField(kKeyEnter);
        } else {
            SelectAllText(field);
        }
    }
}

bool MonitorWindow::AskExit() {
    const MessageAnswer answer = boxes_.Show(
        MessageRequest{kConfirmExit, kProgramTitle, MessageIcon::kExclamation, MessageButtons::kYesNo});
    if (answer == MessageAnswer::kYes) RequestEnd();
    return answer == MessageAnswer::kYes;
}

void MonitorWindow::RequestEnd() {
    if (!running_) {
        EndProgram();
        return;
    }
    // The job in hand finishes its stages, archive copies and history first.
    end_pending_ = true;
    if (stop_) stop_();
}

void MonitorWindow::EndProgram() {
    end_requested_ = true;
    tmr_->stop();
    if (history_ != nullptr) history_->hide();
    hide();
    QCoreApplication::exit(0);
}

bool MonitorWindow::OnScreenKey(int key) {
    esc_asked_ = false;
    const int active = ActiveFieldIndex();
    if (IsEnter(key)) {
        if (active >= 0) {
            if (CheckField(active) != 0) {
                SelectAllText(*input_fields_[static_cast<std::size_t>(active)]);
            } else {
                FocusNextField(kKeyEnter);
            }
        }
        return true;
    }
    if (key == Qt::Key_Down && active >= 0) {
        FocusNextField(kKeyDown);
        return true;
    }
    if (key == Qt::Key_Up && active >= 0) {
        FocusPreviousField();
        return true;
    }
    if (key == Qt::Key_Escape) {
        if (work_.RunState == 0) {
            esc_asked_ = true;
            AskExit();
        }
        return active >= 0 || work_.RunState == 0 || !grid_->hasFocus();
    }
    // F1 to F12, Pause, Home, End, Page Up, Page Down and Caps Lock: nothing here; the
    // focused control handles them as it always does.
    return false;
}

bool MonitorWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key_event = static_cast<QKeyEvent*>(event);
        const int key = key_event->key();
        if (watched == grid_) {
            if (key == Qt::Key_Up || key == Qt::Key_Down) work_.SelectedRow = static_cast<std::int16_t>(grid_->currentRow());
            const bool consumed = OnScreenKey(key);
            if (end_requested_ || end_pending_) return true;
            if (key == Qt::Key_Escape) {
                // The grid asks in every state, unless the screen just asked about this key.
                if (!esc_asked_) AskExit();
                return true;
            }
            if (key == Qt::Key_Space) {
                if (!running_) {
                    for (const int r : ToggleMarksBySpace(work_, anchor_row_, grid_->currentRow())) WriteMark(r);
                }
                return true;
            }
            if (key == Qt::Key_R && !(key_event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
                OpenHistory(grid_->currentRow());
                return true;
            }
            return consumed || IsEnter(key) || IsIgnoredKey(key);
        }
        auto* field = qobject_cast<QLineEdit*>(watched);
        if (OnScreenKey(key)) return true;
        if (field != nullptr && TypesCharacter(*key_event)) {
            const char kind = field == sdate_ ? kDateKind : kTimeKind;
            if (!FilterKey(kind, key_event->text().at(0).unicode())) return true;
        }
        return false;
    }
    if (event->type() == QEvent::KeyRelease) {
        if (auto* field = qobject_cast<QLineEdit*>(watched)) {
            auto* key_event = static_cast<QKeyEvent*>(event);
            if (key_event->isAutoRepeat()) return false;
            if (field == sdate_) {
                if (sdate_key_released_) return false;
                sdate_key_released_ = true;
            }
            CheckFullField(*field, key_event->key(), key_event->modifiers());
        }
        return false;
    }
    if (auto* field = qobject_cast<QLineEdit*>(watched)) {
        if (event->type() == QEvent::FocusIn) FieldGotFocus(*field);
        if (event->type() == QEvent::FocusOut) FieldLostFocus(*field);
    }
    return QWidget::eventFilter(watched, event);
}

// Every close the program did not start itself is the operator's (close box, system menu).
void MonitorWindow::closeEvent(QCloseEvent* event) {
    if (end_requested_) {
        event->accept();
        return;
    }
    // Armed, or a scheduled run: the close is refused without a word. Asked once already: wait.
    if (work_.RunState != 0 || end_pending_) {
        event->ignore();
        return;
    }
    // During a run the window stays until the job in hand has ended (then EndProgram).
    if (AskExit() && end_requested_) {
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace edi
