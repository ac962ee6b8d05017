#include "monitor/MonitorWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "convert/codec/Codec.h"
#include "monitor/Appearance.h"
#include "monitor/CenterMarks.h"
#include "monitor/EntryRules.h"
#include "monitor/FocusRules.h"

namespace edi {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
QString Q(const char* text) { return QString::fromUtf8(text); }

// Grid columns: twips widths and the status fields they show.
constexpr std::array<int, 7> kColumnTwips = {550, 1680, 5000, 1160, 1440, 1440, 1440};
constexpr int kRowTwips = 380;
constexpr int kGridLeft = 12;
constexpr int kGridTop = 140;

int ColumnLeft(int column) {
    int x = kGridLeft + 1;
    for (int c = 0; c < column; ++c) x += Twips(kColumnTwips[static_cast<std::size_t>(c)]);
    return x;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, QRect geometry,
                  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* label = new QLabel(Q(text), parent);
    label->setObjectName(Q(name));
    label->setGeometry(geometry);
    label->setAlignment(alignment);
    return label;
}

QLabel* MakeTitle(QWidget* parent, const char* name, const char* text, QRect geometry) {
    QLabel* title = MakeLabel(parent, name, text, geometry, Qt::AlignCenter);
    title->setFrameShape(QFrame::Box);
    return title;
}

bool IsIgnoredKey(int key) {
    return (key >= Qt::Key_F1 && key <= Qt::Key_F12) || key == Qt::Key_Pause || key == Qt::Key_Home ||
           key == Qt::Key_End || key == Qt::Key_PageUp || key == Qt::Key_PageDown || key == Qt::Key_CapsLock;
}

bool IsEnter(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

}  // namespace

MonitorWindow::MonitorWindow(WorkArea& work, MessageBoxes& boxes, const Clock& clock)
    : work_(work), boxes_(boxes), clock_(clock) {
    setObjectName(QStringLiteral("G5001001"));
    setWindowTitle(Q(kProgramTitle));
    BuildControls();
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
    const int grid_width = ColumnLeft(7) - kGridLeft + 1 + 18;  // room for the vertical scroll bar
    setFixedSize(grid_width + 2 * kGridLeft, 560);

    pgid_ = MakeLabel(this, "lbl_PGID", "", QRect(12, 10, 90, 22));
    koumoku_ = MakeLabel(this, "lbl__Koumoku", "", QRect(420, 10, 96, 22), Qt::AlignRight | Qt::AlignVCenter);
    opcd_ = MakeLabel(this, "lbl_OPCD", "", QRect(522, 10, 90, 22));
    opnm_ = MakeLabel(this, "lbl_OPNM", "", QRect(616, 10, 130, 22));
    date_ = MakeLabel(this, "lbl_DATE", "", QRect(width() - 112, 10, 100, 22), Qt::AlignRight | Qt::AlignVCenter);

    MakeTitle(this, "tit_SDATE", "処理日", QRect(12, 52, 84, 26));
    sdate_ = new QLineEdit(this);
    sdate_->setObjectName(QStringLiteral("SDATE"));
    sdate_->setGeometry(100, 52, 110, 26);
    sdate_->setMaxLength(10);
    MakeTitle(this, "tit_ktime", "開始時刻", QRect(230, 52, 84, 26));
    ktime_ = new QLineEdit(this);
    ktime_->setObjectName(QStringLiteral("KTIME"));
    ktime_->setGeometry(318, 52, 70, 26);
    ktime_->setMaxLength(5);

    // Column titles: "状態" spans the three status columns above their own titles.
    const int top = kGridTop - 48;
    const struct {
        const char* name;
        const char* text;
        int first;
        int last;
        int y;
        int h;
    } titles[] = {
        {"tit_chk", "ｽｹｼﾞｭｰﾙ", 0, 0, top, 47},     {"tit_cnt", "ｾﾝﾀｰｺｰﾄﾞ", 1, 1, top, 47},
        {"tit_cntnm", "ｾﾝﾀｰ名", 2, 2, top, 47},     {"tit_jushinh", "受信方式", 3, 3, top, 47},
        {"tit_jotai", "状態", 4, 6, top, 23},       {"tit_jushin", "受 信", 4, 4, top + 24, 23},
        {"tit_henkan", "変 換", 5, 5, top + 24, 23}, {"tit_data", "データ登録", 6, 6, top + 24, 23},
    };
    for (const auto& t : titles) {
        const int x = ColumnLeft(t.first);
        MakeTitle(this, t.name, t.text, QRect(x, t.y, ColumnLeft(t.last + 1) - x - 1, t.h));
    }

    grid_ = new QTableWidget(this);
    grid_->setObjectName(QStringLiteral("GRID"));
    grid_->setGeometry(kGridLeft, kGridTop, grid_width, Twips(kRowTwips) * 14 + 2);
    grid_->setColumnCount(7);
    grid_->horizontalHeader()->hide();
    grid_->verticalHeader()->hide();
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::ContiguousSelection);
    grid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grid_->setTabKeyNavigation(false);
    for (int c = 0; c < 7; ++c) grid_->setColumnWidth(c, Twips(kColumnTwips[static_cast<std::size_t>(c)]));
    grid_->verticalHeader()->setDefaultSectionSize(Twips(kRowTwips));
    grid_->installEventFilter(this);
    connect(grid_, &QTableWidget::cellPressed, this, [this](int row, int) { anchor_row_ = row; });
    connect(grid_, &QTableWidget::cellClicked, this, [this](int row, int column) {
        // The mark column is fixed: a click there makes column 1 current.
        const int current_column = column == 0 ? 1 : column;
        if (ToggleMarkByClick(work_, row, current_column)) WriteMark(row);
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
        button->setGeometry(width() - 12 - (2 - i) * 150 + 8, height() - 52, 142, 38);
        button->installEventFilter(this);
        connect(button, &QPushButton::clicked, this, [this, i] { OnCommand(i); });
    }

    for (QLineEdit* field : {sdate_, ktime_}) field->installEventFilter(this);
    setTabOrder(sdate_, ktime_);
    setTabOrder(ktime_, grid_);
    setTabOrder(grid_, cmd_[0]);
    setTabOrder(cmd_[0], cmd_[1]);

    // The small progress window shown while a job runs.
    sub_frm_ = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    sub_frm_->setObjectName(QStringLiteral("SUB_FRM"));
    sub_frm_->setWindowTitle(Q(kProgramTitle));
    sub_frm_->setFixedSize(260, 90);
    auto* layout = new QVBoxLayout(sub_frm_);
    auto* busy_label = new QLabel(Q("処理中"), sub_frm_);
    busy_label->setObjectName(QStringLiteral("Label1"));
    QFont big = busy_label->font();
    big.setPointSize(18);
    busy_label->setFont(big);
    busy_label->setAlignment(Qt::AlignCenter);
    layout->addWidget(busy_label);
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

void MonitorWindow::ShowStatus(int row, int column, const std::string& text) {
    if (row < 0 || row >= static_cast<int>(work_.Centers.size())) return;
    CenterEntry& entry = work_.Centers[static_cast<std::size_t>(row)];
    if (column == 4) entry.ReceiveStatus = text;
    if (column == 5) entry.ConversionStatus = text;
    if (column == 6) entry.RegistrationStatus = text;
    if (QTableWidgetItem* item = grid_->item(row, column)) item->setText(Q(text));
    // The job runs inside this event: draw now so the operator sees each stage.
    grid_->viewport()->repaint();
}

void MonitorWindow::SetRowState(int row, std::int16_t state) {
    if (row < 0 || row >= static_cast<int>(work_.Centers.size())) return;
    MakeRowCurrent(row);
    work_.Centers[static_cast<std::size_t>(row)].RowState = state;
    const QColor colour = ColorFromNumber(ColourOfState(state));
    for (int col = 0; col < grid_->columnCount(); ++col) {
        if (QTableWidgetItem* item = grid_->item(row, col)) item->setForeground(colour);
    }
    grid_->viewport()->repaint();
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

void MonitorWindow::RunRows(const std::vector<int>& rows) {
    sub_frm_->show();
    sub_frm_->repaint();
    SetBusy(true);
    running_ = true;
    const RunReport report = run_ ? run_(rows) : RunReport{};
    running_ = false;
    sub_frm_->hide();
    SetBusy(false);
    const char* why = report.end == RunEnd::kLocked         ? kRunLocked
                      : report.end == RunEnd::kLockFailed     ? kRunLockError
                      : report.end == RunEnd::kHistoryFailed ? HistoryFailedMessage(report.failure)
                                                              : nullptr;
    if (why != nullptr) boxes_.Show(MessageRequest{why, kProgramTitle, MessageIcon::kExclamation, MessageButtons::kOk});
}

void MonitorWindow::OnTimer(const LocalDateTime& now) {
    if (work_.RunState != 2) return;
    if (!ScheduleDue(sdate_->text().toStdString(), ktime_->text().toStdString(), now)) return;
    work_.RunState = 1;
    RunRows(MarkedRows(work_));
    work_.RunState = 0;
    EnableButtons(true);
}

void MonitorWindow::OnCommand(int index) {
    if (index == 1) {
        EnableButtons(false);
        RunRows(WaitingMarkedRows(work_));
        work_.RunState = 0;
        EnableButtons(true);
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
    }
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
    if (answer == MessageAnswer::kYes) EndProgram();
    return answer == MessageAnswer::kYes;
}

void MonitorWindow::EndProgram() {
    end_requested_ = true;
    tmr_->stop();
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
    return IsIgnoredKey(key);
}

bool MonitorWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key_event = static_cast<QKeyEvent*>(event);
        const int key = key_event->key();
        if (watched == grid_) {
            if (key == Qt::Key_Up || key == Qt::Key_Down) work_.SelectedRow = static_cast<std::int16_t>(grid_->currentRow());
            const bool consumed = OnScreenKey(key);
            if (end_requested_) return true;
            if (key == Qt::Key_Escape) {
                // The grid asks in every state, unless the screen just asked about this key.
                if (!esc_asked_) AskExit();
                return true;
            }
            if (key == Qt::Key_Space) {
                for (const int r : ToggleMarksBySpace(work_, anchor_row_, grid_->currentRow())) WriteMark(r);
                return true;
            }
            return consumed || IsEnter(key);
        }
        auto* field = qobject_cast<QLineEdit*>(watched);
        if (OnScreenKey(key)) return true;
        if (field != nullptr) {
            const QString text = key_event->text();
            if (!text.isEmpty()) {
                const char kind = field == sdate_ ? kDateKind : kTimeKind;
                if (!FilterKey(kind, text.at(0).unicode())) return true;
            }
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
    if (work_.RunState != 0) {
        event->ignore();
        return;
    }
    if (AskExit()) {
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace edi
