// The window with real jobs: a SQLite database, the job runner and the run, fakes for the
// converter and the registration program. The jobs run on the session thread as in the program,
// or (for the history view) inside the event that starts them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "monitor/Appearance.h"
#include "monitor/HistoryView.h"
#include "monitor/MonitorWindow.h"
#include "monitor/UiThread.h"
#include "startup/SessionThread.h"
#include "support/DbTestSupport.h"
#include "support/RecordedProgress.h"
#include "transfer/JobRunner.h"

namespace edi {
namespace {

namespace fs = std::filesystem;

// Writes the message into the local file of kind "01". While held it keeps reading the message,
// as a conversion of a large file keeps the processor busy, until let go (or 60 s have passed).
class HeldConverters final : public Converters {
public:
    void CheckReceivedCii(WorkArea&, const std::string&, std::int32_t, CiiCheckOutcome&) override {}
    void XmlCiiConvert(WorkArea&, const std::string&, const std::string&, std::int32_t, ConversionValues&) override {}
    void RunLocalCiiConversion(WorkArea&, const std::string&, std::int32_t, const std::string&,
                               const std::string& cii_path, const std::string& local_path, std::string& result,
                               ConversionValues&) override {
        entered = true;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::vector<char> buffer(1 << 16);
        std::uint64_t sum = 0;
        do {
            std::ifstream in(cii_path, std::ios::binary);
            while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
                for (std::streamsize i = 0; i < in.gcount(); ++i) sum += static_cast<unsigned char>(buffer[i]);
            }
        } while (hold && !released && std::chrono::steady_clock::now() < give_up);
        std::ifstream in(cii_path, std::ios::binary);
        std::string local = local_path;
        local.insert(local.rfind('.'), "01");
        std::ofstream(local, std::ios::binary) << in.rdbuf();
        result = in && sum > 0 ? "0000" : "0003";
    }
    std::atomic<bool> hold{false};
    std::atomic<bool> entered{false};
    std::atomic<bool> released{false};
};

// The registration program: writes its status file, or is missing.
class StatusStarter final : public ProcessStarter {
public:
    explicit StatusStarter(fs::path status_folder) : folder_(std::move(status_folder)) {}
    bool RunAndWait(const std::string& command_line, const std::string&) override {
        if (missing) return false;
        ++registrations;
        const std::string serial = command_line.substr(command_line.size() - 12, 8);
        test::WriteSjisFile(folder_ / (serial + "_Z_IN_STATUS.TXT"), "1KIND123456789012000010000009" "00\r\n");
        return true;
    }
    std::atomic<bool> missing{false};
    std::atomic<int> registrations{0};

private:
    fs::path folder_;
};

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
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
    int paints = 0;
};

bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QTest::qWait(10);
    }
    return true;
}

QWidget* TopLevel(const char* name) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QString::fromUtf8(name)) return widget;
    }
    return nullptr;
}

// Pixels that differ from the top-left one: a window drawn with its text has many.
int DrawnPixels(const QImage& image) {
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) drawn += image.pixel(x, y) != image.pixel(0, 0);
    }
    return drawn;
}

void Shot(QWidget& widget, const char* name) {
    const fs::path dir = K500100_SCREENSHOT_DIR;
    fs::create_directories(dir);
    EXPECT_TRUE(widget.grab().save(QString::fromStdString((dir / name).string())));
}

class JobWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        db_ = test::TestDatabase::Create(test::Backend::kSqlite, error);
        ASSERT_NE(db_, nullptr) << error;
        for (const char* name : {"in", "old", "link", "pr", "st"}) fs::create_directories(dir_ / name);
        test::WriteSjisFile(dir_ / "EDI.ini", "[PATH]\r\nPRPATH=" + Folder("pr") + "\r\nMGCMDLINEZR=register\r\nSTPATH=" +
                                                  Folder("st") + "\r\nFL1102_FILE=F:/HIST\r\n[JKBN_Z_J]\r\n01\r\n\r\n");
        work_.IniOverride = dir_ / "EDI.ini";
        work_.EDIINFIL = Folder("in");
        work_.EDIOUTFIL = Folder("in");
        work_.OLD_FILE = Folder("old");
        work_.MGSTPATH = Folder("st");
        work_.OperatorCode = "OP01";
        work_.TerminalName = "TESTTERM";
        work_.Log.file = dir_ / "ERR.LOG";
        work_.Colors = {0x000000, 0x0000FF, 0x008000, 0xFF0000};
        work_.Appearance.FormBackColor = "&HE8E4DC";
        work_.Appearance.Label = LookGroup{0xE8E4DC, 0x303030, "Noto Sans CJK JP", "10", "False", "False", "False", "False"};
        work_.Appearance.Title = LookGroup{0x7A4A1F, 0xFFFFFF, "Noto Sans CJK JP", "10", "True", "False", "False", "False"};
        work_.Appearance.Text = LookGroup{0xFFFFFF, 0, "Noto Sans Mono CJK JP", "11", "False", "False", "False", "False"};
        for (const char* code : {"CIILINK", "OTHER"}) {
            CenterEntry entry;
            entry.CenterCode = code;
            entry.CenterName = std::string("センター ") + code;
            work_.Centers.push_back(entry);
            LinkFile(code, std::string(2 << 20, 'M'));
        }
        window_ = std::make_unique<MonitorWindow>(work_, boxes_, clock_);
        ApplyAppearance(*window_, work_.Appearance);
        window_->LayoutControls();
        window_->ClearScreenFields();
        window_->PrepareLabels("2026/12/05");
        window_->FillCenterGrid([](const std::string&) { return std::string("リンク"); });
        display_ = std::make_unique<UiJobDisplay>(*window_, window_.get());
        watch_ = std::make_unique<FirstStageWatch>(*display_, window_.get());
        job_boxes_ = std::make_unique<UiMessageBoxes>(boxes_, window_.get());
        runner_ = std::make_unique<JobRunner>(work_, clock_, *job_boxes_, progress_, *watch_, converters_, starter_);
        run_ = std::make_unique<ReceiveRun>(work_, *runner_, stop_);
        window_->SetRunStarter([this](const std::vector<int>& rows) { return run_->Run(rows); });
        window_->SetCarryOnStarter([this](std::int32_t serial) { return run_->CarryOn(serial); });
        window_->SetHistoryReader([this](const std::string& center, std::int32_t before) {
            return ReadCenterHistory(work_, center, before);
        });
        window_->SetStopRequest([this] { stop_ = true; });
        window_->show();
        QApplication::setActiveWindow(window_.get());
    }
    void TearDown() override {
        window_.reset();
        run_.reset();
        runner_.reset();
        work_.Db.reset();
        db_.reset();
    }

    std::string Folder(const char* name) const { return (dir_ / name).string() + "/"; }
    void LinkFile(const std::string& code, const std::string& bytes) {
        test::WriteFile(dir_ / "link" / (code + ".dat"), std::string_view(bytes));
    }
    // Connects the work area and writes the centers, on the thread that then owns the session.
    void Prepare() {
        ASSERT_TRUE(db_->Connect(work_));
        for (const CenterEntry& c : work_.Centers) {
            Exec("INSERT INTO FL1903EDI制御マスタ (センターコード, 相手先種別, センター名, 送受信方式, 実行端末名, "
                 "TCX受信ファイルパス, 送受信データ形式) VALUES (" +
                 SqlQuote(c.CenterCode) + ", '2', " + SqlQuote(c.CenterName) + ", 'Z', 'TESTTERM', " +
                 SqlQuote(Folder("link") + c.CenterCode + ".dat") + ", 'C')");
            Exec("INSERT INTO FL1915センタ利用企業マスタ (センターコード, 相手先企業コード) VALUES (" +
                 SqlQuote(c.CenterCode) + ", 'PARTNER01')");
        }
    }
    void Exec(const std::string& sql) {
        work_.SqlText = sql;
        EXPECT_TRUE(ExecuteSql(work_)) << sql;
    }
    // "枝番 処理種別 終了コード 詳細コード" per row of the job, on the given work area's session.
    static std::vector<std::string> Codes(WorkArea& work, int serial) {
        work.SqlText = "SELECT * FROM FL1102処理履歴ファイル WHERE 通番 = " + std::to_string(serial) + " ORDER BY 枝番";
        ResultSet set;
        std::vector<std::string> rows;
        if (!OpenQuery(work, set)) return {"<query failed>"};
        for (; !set.EndOfSet(); set.MoveNext()) {
            rows.push_back(set.Value("枝番").value_or("-") + " " + set.Value("処理種別").value_or("-") + " " +
                           set.Value("終了コード").value_or("-") + " " + set.Value("詳細コード").value_or("-"));
        }
        return rows;
    }
    QString Cell(int row, int column) const {
        return window_->findChild<QTableWidget*>(QStringLiteral("GRID"))->item(row, column)->text();
    }

    test::TempDir dir_;
    std::unique_ptr<test::TestDatabase> db_;
    WorkArea work_;
    test::RecordedMessageBoxes boxes_;
    test::FixedClock clock_{LocalDateTime{2026, 12, 5, 10, 20, 30}};
    test::RecordedProgress progress_;
    HeldConverters converters_;
    StatusStarter starter_{dir_ / "st"};
    std::atomic<bool> stop_{false};
    std::unique_ptr<MonitorWindow> window_;
    std::unique_ptr<UiJobDisplay> display_;
    std::unique_ptr<FirstStageWatch> watch_;
    std::unique_ptr<UiMessageBoxes> job_boxes_;
    std::unique_ptr<JobRunner> runner_;
    std::unique_ptr<ReceiveRun> run_;
};

TEST_F(JobWindowTest, TheWindowStaysLiveDuringAJobAndAClosingWaitsForItsHistory) {
    SessionThread session;
    session.Call([this] { Prepare(); });
    window_->SetWorker([&session](std::function<void()> task) { session.Post(std::move(task)); });
    converters_.hold = true;

    // Before the receive stage starts, the progress window is up, names the center and was drawn.
    QWidget* progress = TopLevel("SUB_FRM");
    ASSERT_NE(progress, nullptr);
    PaintCounter painted;
    progress->findChild<QLabel*>(QStringLiteral("Label1"))->installEventFilter(&painted);
    int checked = 0;
    watch_->check = [&] {
        ++checked;
        EXPECT_TRUE(progress->isVisible());
        EXPECT_GT(painted.paints, 0);
        EXPECT_TRUE(progress->findChild<QLabel*>(QStringLiteral("Label2"))->text().startsWith(QStringLiteral("CIILINK")));
        EXPECT_GT(DrawnPixels(progress->grab().toImage()), 200) << "not a blank box";
    };

    window_->OnCommand(1);
    ASSERT_TRUE(WaitFor([&] { return converters_.entered.load() && Cell(0, 5) == QStringLiteral("変換中"); }, 60000))
        << "the conversion never showed";
    EXPECT_EQ(checked, 1);
    EXPECT_EQ(Cell(0, 4), QStringLiteral("OK"));
    EXPECT_EQ(window_->findChild<QTableWidget*>(QStringLiteral("GRID"))->item(0, 1)->foreground().color(),
              QColor(0, 0, 0xFF))
        << "the running colour 0xFF0000 is blue";
    EXPECT_FALSE(window_->findChild<QPushButton*>(QStringLiteral("CMD_1"))->isEnabled());
    Shot(*window_, "job-in-progress.png");
    Shot(*progress, "job-in-progress-window.png");

    // The event loop answers while the conversion works: a 50 ms timer keeps its beat.
    std::vector<qint64> late;
    QElapsedTimer clock;
    qint64 last = 0;
    QTimer beat;
    beat.setInterval(50);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        late.push_back(now - last - 50);
        last = now;
    });
    clock.start();
    beat.start();
    QTest::qWait(1500);
    beat.stop();
    ASSERT_GE(late.size(), 10u);
    std::sort(late.begin(), late.end());
    EXPECT_LT(late[late.size() / 2], 100) << "median delay of the timer in ms";
    EXPECT_TRUE(converters_.entered && !converters_.released) << "measured while the job converted";

    // Closing asks, then waits for the job in hand: its job row is still open.
    WorkArea probe;
    ASSERT_TRUE(db_->Connect(probe));
    boxes_.SetNextAnswer(MessageAnswer::kYes);
    EXPECT_FALSE(window_->close());
    EXPECT_EQ(boxes_.shown().back().text, kConfirmExit);
    EXPECT_TRUE(window_->EndPending());
    EXPECT_FALSE(window_->EndRequested());
    EXPECT_EQ(Codes(probe, 1), (std::vector<std::string>{"0 03 - -", "1 10 0000 0000", "2 31 - -"}));

    converters_.released = true;
    ASSERT_TRUE(WaitFor([&] { return window_->EndRequested(); }, 60000));
    EXPECT_EQ(Codes(probe, 1), (std::vector<std::string>{"0 03 0000 0000", "1 10 0000 0000", "2 31 0000 0000",
                                                         "3 41 00 0000"}))
        << "the job ended its stages and history before the program";
    EXPECT_EQ(Codes(probe, 2), std::vector<std::string>{}) << "the next center's job never started";
    EXPECT_TRUE(fs::exists(dir_ / "link" / "OTHER.dat"));
    EXPECT_EQ(starter_.registrations, 1);
    probe.Db.reset();
    session.Call([this] { work_.Db.reset(); });
}

TEST_F(JobWindowTest, TheHistoryViewExplainsEveryCodeAndCarriesAFailedJobOn) {
    // The center's good job, then one whose registration program is missing.
    Prepare();
    ASSERT_TRUE(run_->Run({0}).all_well());
    LinkFile("CIILINK", "the second message");
    starter_.missing = true;
    ASSERT_FALSE(run_->Run({0}).all_well());

    window_->OpenHistory(0);
    HistoryView* view = window_->History();
    ASSERT_NE(view, nullptr);
    auto* grid = view->findChild<QTableWidget*>(QStringLiteral("GRID"));
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
    Shot(*view, "history.png");

    // The program is back: carried on from the view, job 3 registers job 2's message once.
    starter_.missing = false;
    boxes_.SetNextAnswer(MessageAnswer::kYes);
    view->OnCarryOn();
    EXPECT_NE(boxes_.shown().back().text.find("通番 2 の受信ファイルで変換とデータ登録をやり直します"), std::string::npos);
    EXPECT_NE(boxes_.shown().back().text.find("業務システムで未登録を確かめて"), std::string::npos)
        << "the program may have run without a status file";
    const std::vector<std::string> after = rows();
    ASSERT_EQ(after.size(), 12u);
    EXPECT_EQ(after[0], "3|0|ジョブ|0000|8102|正常終了（前の処理の受信ファイルで変換・登録をやり直し）　元の通番 2");
    EXPECT_EQ(after[1], "|1|　受信|0000|8102|前の処理の受信ファイルを引き継いだ　元の通番 2");
    EXPECT_EQ(after[3], "|3|　データ登録|00|0000|正常終了（登録済み）");
    EXPECT_EQ(after[4], "2|0|ジョブ|0000|0000|ジョブは終了、データ登録で失敗（その行を参照）　通番 3 で再実行済み");
    EXPECT_EQ(grid->item(1, kColFile)->text(), QStringLiteral("00000003_RCV_CIILINK_____.CII"));
    EXPECT_EQ(starter_.registrations, 2) << "jobs 1 and 3: the second message registered once";
    EXPECT_EQ(test::ReadText(dir_ / "in" / "00000003_RCV_CIILINK_____01.LOC"), "the second message");
    grid->selectRow(4);
    EXPECT_FALSE(carry->isEnabled()) << "job 2 cannot go a second time";
    EXPECT_EQ(view->findChild<QLabel*>(QStringLiteral("lbl_MSG"))->text(), QString::fromUtf8("通番 2: 通番 3 で再実行済みです"));
    grid->selectRow(0);
    Shot(*view, "history-after-carry-on.png");
}

}  // namespace
}  // namespace edi
