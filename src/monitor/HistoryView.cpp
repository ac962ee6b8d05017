#include "monitor/HistoryView.h"

#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "monitor/Appearance.h"
#include "monitor/StateColourDelegate.h"
#include "transfer/CodeMeaning.h"
#include "transfer/JobOutcome.h"

namespace edi {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
QString Q(const char* text) { return QString::fromUtf8(text); }

constexpr const char* kCaptions[kHistoryColumns] = {"通番", "枝番", "処理", "開始日時", "終了日時", "入力件数",
                                                      "出力件数", "ファイル名", "終了ｺｰﾄﾞ", "詳細ｺｰﾄﾞ", "内容"};

QLabel* Title(QWidget* parent, const char* name, const char* text) {
    auto* title = new QLabel(Q(text), parent);
    title->setObjectName(Q(name));
    title->setFrameShape(QFrame::Box);
    title->setAlignment(Qt::AlignCenter);
    title->setMargin(3);
    return title;
}

QLabel* Value(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(Q(name));
    label->setMinimumWidth(120);
    return label;
}

QPushButton* Button(QWidget* parent, const char* name, const char* text) {
    auto* button = new QPushButton(Q(text), parent);
    button->setObjectName(Q(name));
    button->setAutoDefault(false);
    button->setMinimumSize(120, 34);
    return button;
}

// A stage row that did not end well; a conversion cut short was done again and is no failure.
bool RowFailed(const HistoryLine& row) {
    if (row.終了.empty()) return false;
    if (row.処理種別 == "41") return !RegistrationEndedWell(row.終了コード);
    return row.終了コード != "0000" && row.終了コード != "8101";
}

// "hh:mm:ss" of a "yyyy/mm/dd hh:mm:ss" text when its date is that of the other one; else the whole text.
std::string TimeOf(const std::string& when, const std::string& beside) {
    if (when.size() > 11 && beside.size() > 11 && when.compare(0, 10, beside, 0, 10) == 0) return when.substr(11);
    return when;
}

}  // namespace

std::string KindName(const std::string& kind) {
    if (kind == "03") return "ジョブ";
    if (kind == "10") return "受信";
    if (kind == "31" || kind == "32") return "変換 (ローカル)";
    if (kind == "33" || kind == "34") return "変換 (XML→CII)";
    if (kind == "41") return "データ登録";
    return kind;
}

std::string RowMeaning(const CenterJob& job, const HistoryLine& row) {
    if (row.終了.empty()) return row.枝番 == 0 ? "処理中、または中断（次の実行で継続）" : "未終了";
    std::string text(MeaningOf(SourceOfKind(row.処理種別), row.終了コード, row.詳細コード).japanese);
    // A stage that records its failure in its own row still ends the job with "0000".
    if (row.枝番 == 0 && row.終了コード == "0000") {
        for (const HistoryLine& stage : job.rows) {
            if (stage.枝番 != 0 && RowFailed(stage)) text = "ジョブは終了、" + KindName(stage.処理種別) + "で失敗（その行を参照）";
        }
    }
    const bool names_earlier = row.詳細コード == kTakesOverCode && job.takes_over != 0;
    if (names_earlier && (row.枝番 == 0 || row.処理種別 == "10")) text += "　元の通番 " + std::to_string(job.takes_over);
    if (row.枝番 == 0 && job.carry_on.bar == CarryOnBar::kTakenOver) {
        text += "　通番 " + std::to_string(job.carry_on.taken_by) + " で再実行済み";
    }
    return text;
}

std::string LogLineText(const std::string& line) {
    const LogLine parsed = ParseLogLine(line);
    if (parsed.code.empty()) return line;
    return parsed.code + "  " + std::string(MeaningOfLogCode(parsed.code).japanese) + "  " + parsed.text;
}

HistoryView::HistoryView(const WorkArea& work, MessageBoxes& boxes, QWidget* parent)
    : QDialog(parent), work_(work), boxes_(boxes) {
    setObjectName(QStringLiteral("G5001002"));
    setWindowTitle(Q(kProgramTitle) + QStringLiteral(" - ") + Q("処理履歴"));
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    auto* pgid = new QLabel(QStringLiteral("G5001002"), this);
    pgid->setObjectName(QStringLiteral("lbl_PGID"));
    top->addWidget(pgid);
    top->addSpacing(24);
    top->addWidget(Title(this, "tit_cnt", "ｾﾝﾀｰｺｰﾄﾞ"));
    code_ = Value(this, "lbl_CNT");
    top->addWidget(code_);
    top->addWidget(Title(this, "tit_cntnm", "ｾﾝﾀｰ名"));
    name_ = Value(this, "lbl_CNTNM");
    name_->setMinimumWidth(280);
    top->addWidget(name_);
    top->addStretch();
    layout->addLayout(top);

    grid_ = new QTableWidget(0, kHistoryColumns, this);
    grid_->setObjectName(QStringLiteral("GRID"));
    for (int c = 0; c < kHistoryColumns; ++c) grid_->setHorizontalHeaderItem(c, new QTableWidgetItem(Q(kCaptions[c])));
    grid_->verticalHeader()->hide();
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setItemDelegate(new StateColourDelegate(grid_));
    // The meaning of a code is never cut: a long one takes a second line.
    grid_->setWordWrap(true);
    grid_->setTextElideMode(Qt::ElideNone);
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    grid_->horizontalHeader()->setSectionResizeMode(kColMeaning, QHeaderView::Stretch);
    grid_->horizontalHeader()->setMinimumSectionSize(36);
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(grid_, &QTableWidget::currentCellChanged, this, [this] { ShowSelected(); });
    layout->addWidget(grid_, 1);

    layout->addWidget(Title(this, "tit_log", "ERR.LOG（選択した処理の変換）"), 0, Qt::AlignLeft);
    log_ = new QListWidget(this);
    log_->setObjectName(QStringLiteral("LST_LOG"));
    log_->setMaximumHeight(110);
    layout->addWidget(log_);

    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("lbl_MSG"));
    layout->addWidget(message_);

    auto* buttons = new QHBoxLayout;
    previous_ = Button(this, "CMD_PREV", "前頁(&P)");
    next_ = Button(this, "CMD_NEXT", "次頁(&N)");
    carry_ = Button(this, "CMD_SAIJIKKO", "再実行(&C)");
    auto* close = Button(this, "CMD_CLOSE", "閉じる(&X)");
    buttons->addWidget(previous_);
    buttons->addWidget(next_);
    buttons->addStretch();
    buttons->addWidget(carry_);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(previous_, &QPushButton::clicked, this, [this] {
        if (cursors_.size() < 2) return;
        cursors_.pop_back();
        const std::int32_t before = cursors_.back();
        cursors_.pop_back();
        Load(before);
    });
    connect(next_, &QPushButton::clicked, this, [this] {
        if (page_.older && !page_.jobs.empty()) Load(page_.jobs.back().serial);
    });
    connect(carry_, &QPushButton::clicked, this, [this] { OnCarryOn(); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    // Colours and fonts of EDI.ini as on the monitor screen; the grid's captions take the title look.
    ApplyAppearance(*this, work_.Appearance);
    ApplyTitleLook();
    resize(1260, 640);
}

void HistoryView::ApplyTitleLook() {
    const auto font = FontOf(work_.Appearance.Title);
    if (!font) return;
    grid_->horizontalHeader()->setFont(*font);
    grid_->horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView::section { background-color: %1; color: %2; border: 1px solid %2; "
                       "padding: 3px 6px; }")
            .arg(ColorFromNumber(work_.Appearance.Title.BackColor).name(),
                 ColorFromNumber(work_.Appearance.Title.ForeColor).name()));
}

void HistoryView::ShowCenter(const std::string& code, const std::string& name) {
    center_ = code;
    code_->setText(Q(code));
    name_->setText(Q(name));
    cursors_.clear();
    page_ = HistoryPage{};
    Fill(page_);
    show();
    raise();
    activateWindow();
    Load(0);
}

void HistoryView::Reload() {
    if (!isVisible() || cursors_.empty()) return;
    const std::int32_t before = cursors_.back();
    cursors_.pop_back();
    Load(before);
}

void HistoryView::SetRunning(bool running) {
    running_ = running;
    ShowSelected();
}

void HistoryView::Load(std::int32_t before) {
    cursors_.push_back(before);
    message_->setText(Q(kHistoryLoading));
    previous_->setEnabled(false);
    next_->setEnabled(false);
    carry_->setEnabled(false);
    const int ticket = ++pending_;
    if (!reader_) return;
    reader_(center_, before, [this, ticket](const HistoryPage& page) {
        if (ticket == pending_) Fill(page);
    });
}

void HistoryView::Fill(const HistoryPage& page) {
    const std::int32_t keep = SelectedSerial();
    page_ = page;
    grid_->setRowCount(0);
    const QColor normal = ColorFromNumber(work_.Colors.Normal);
    const QColor error = ColorFromNumber(work_.Colors.Error);
    const QColor done = ColorFromNumber(work_.Colors.Done);
    const QColor running = ColorFromNumber(work_.Colors.Running);
    int select = 0;
    for (const CenterJob& job : page_.jobs) {
        bool failed = false;
        for (const HistoryLine& row : job.rows) failed = failed || RowFailed(row);
        for (const HistoryLine& row : job.rows) {
            const int r = grid_->rowCount();
            grid_->insertRow(r);
            if (job.serial == keep && row.枝番 == 0) select = r;
            const bool job_row = row.枝番 == 0;
            const bool registration = row.処理種別 == "41";
            const auto count = [&](const std::optional<std::int32_t>& n) {
                return registration && n ? std::to_string(*n) : std::string();
            };
            const std::string texts[kHistoryColumns] = {
                job_row ? std::to_string(job.serial) : std::string(),
                std::to_string(row.枝番),
                (job_row ? "" : "　") + KindName(row.処理種別),
                job_row ? row.開始 : TimeOf(row.開始, job.rows.front().開始),
                TimeOf(row.終了, row.開始),
                count(row.入力レコード数),
                count(row.出力レコード数),
                std::filesystem::path(row.ファイル名).filename().string(),
                row.終了コード,
                row.詳細コード,
                RowMeaning(job, row)};
            const QColor colour = job_row ? (row.終了.empty() ? running : failed || RowFailed(row) ? error : done)
                                          : (RowFailed(row) ? error : normal);
            for (int c = 0; c < kHistoryColumns; ++c) {
                auto* item = new QTableWidgetItem(Q(texts[c]));
                item->setForeground(colour);
                item->setData(Qt::UserRole, job.serial);
                if (c == kColSerial || c == kColBranch || c == kColIn || c == kColOut) {
                    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                }
                if (c == kColFile) item->setToolTip(Q(row.ファイル名));
                if (job_row) {
                    QFont font = item->font();
                    font.setBold(true);
                    item->setFont(font);
                }
                grid_->setItem(r, c, item);
            }
        }
    }
    message_->setText(page_.failed ? Q(kHistoryUnreadable) : page_.jobs.empty() ? Q(kHistoryEmpty) : QString());
    previous_->setEnabled(cursors_.size() > 1);
    next_->setEnabled(page_.older);
    if (grid_->rowCount() > 0) grid_->selectRow(select);
    ShowSelected();
}

std::int32_t HistoryView::SelectedSerial() const {
    const QTableWidgetItem* item = grid_->item(grid_->currentRow(), 0);
    return item != nullptr ? item->data(Qt::UserRole).toInt() : 0;
}

const CenterJob* HistoryView::SelectedJob() const {
    const std::int32_t serial = SelectedSerial();
    for (const CenterJob& job : page_.jobs) {
        if (job.serial == serial) return &job;
    }
    return nullptr;
}

void HistoryView::ShowSelected() {
    const CenterJob* job = SelectedJob();
    log_->clear();
    carry_->setEnabled(false);
    if (job == nullptr) return;
    for (const std::string& line : job->log) log_->addItem(Q(LogLineText(line)));
    const bool failed_job = job->carry_on.bar != CarryOnBar::kEndedWell && job->carry_on.bar != CarryOnBar::kUnfinished;
    carry_->setEnabled(job->carry_on.bar == CarryOnBar::kNone && !running_);
    if (failed_job) {
        message_->setText(Q("通番 " + std::to_string(job->serial) + ": " +
                            CarryOnBarText(job->carry_on.bar, job->carry_on.taken_by, true)));
    } else if (!page_.failed) {
        message_->clear();
    }
}

void HistoryView::OnCarryOn() {
    const CenterJob* job = SelectedJob();
    if (job == nullptr || job->carry_on.bar != CarryOnBar::kNone || running_ || !carry_on_) return;
    std::string text = "通番 " + std::to_string(job->serial) + " の受信ファイルで変換とデータ登録をやり直します。" +
                       "よろしいですか";
    if (job->carry_on.caution) {
        text += "\n登録プログラムが結果を残していません。業務システムで未登録を確かめてから実行してください。";
    }
    const MessageAnswer answer =
        boxes_.Show(MessageRequest{text, kProgramTitle, MessageIcon::kExclamation, MessageButtons::kYesNo});
    if (answer == MessageAnswer::kYes) carry_on_(job->serial);
}

}  // namespace edi
