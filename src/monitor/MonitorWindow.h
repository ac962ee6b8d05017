// The monitor screen G5001001: the center grid, the run date and start time, the two run
// buttons, the 300 ms timer, the progress window and the history view.
//
// Threads: the window lives on the user-interface thread. A run (and a history read) is handed
// to the worker (the session thread, which alone uses the database session) and its report
// comes back as an event; while it runs, the job's status calls arrive as events too (UiThread.h),
// so the window repaints and answers throughout. During a run the worker owns the work area's
// job fields (Centers' states and texts, CurrentRow, SqlText, the log); the window reads only
// what start-up fixed and draws from the values the calls carry. Without a worker (tests) the
// run happens inside the event that starts it.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "startup/Clock.h"
#include "startup/MessageBox.h"
#include "startup/WorkArea.h"
#include "transfer/CenterHistory.h"
#include "transfer/JobSeams.h"
#include "transfer/ReceiveRun.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace edi {

class HistoryView;

inline constexpr const char* kConfirmExit = "終了してもよろしいですか";
// Another run of this terminal (the headless runner, another window) holds the lock.
inline constexpr const char* kRunLocked = "他の処理が実行中のため実行できません";
// The lock file in the receive folder cannot be opened.
inline constexpr const char* kRunLockError = "ロックファイルを開けないため実行できません";
// The history cannot be read or written (ERR.LOG says why): the run took no further file, and a
// job left open waits for the next run. The database busy past its wait, or gone, says so.
inline constexpr const char* kRunHistoryError = "処理履歴を読み書きできないため処理を中止しました";
inline constexpr const char* kRunDatabaseBusy = "データベース使用中のため処理を中止しました";
inline constexpr const char* kRunDatabaseLost = "データベースに接続できないため処理を中止しました";
inline const char* HistoryFailedMessage(DbFailure failure) {
    return failure == DbFailure::kBusy   ? kRunDatabaseBusy
           : failure == DbFailure::kLost ? kRunDatabaseLost
                                         : kRunHistoryError;
}
inline constexpr int kTimerIntervalMs = 300;

// Twips to pixels at 96 dots per inch.
constexpr int Twips(int twips) { return (twips + 7) / 15; }

class MonitorWindow : public QWidget, public JobDisplay {
    Q_OBJECT

public:
    // Runs the jobs of the given grid rows as one run (lock, unfinished jobs, then the rows); the
    // jobs report through this window's status methods.
    using RunStarter = std::function<RunReport(const std::vector<int>& rows)>;
    // The name of a transfer-method code, for the grid's method column.
    using MethodNamer = std::function<std::string(const std::string& method)>;
    // Runs a task on the thread that owns the database session.
    using Worker = std::function<void(std::function<void()> task)>;
    // A run that carries on one failed job (ReceiveRun::CarryOn).
    using CarryOnStarter = std::function<RunReport(std::int32_t serial)>;
    // A page of a center's history (ReadCenterHistory).
    using HistoryReader = std::function<HistoryPage(const std::string& center, std::int32_t before)>;

    MonitorWindow(WorkArea& work, MessageBoxes& boxes, const Clock& clock);
    ~MonitorWindow() override;

    void SetRunStarter(RunStarter starter) { run_ = std::move(starter); }
    void SetCarryOnStarter(CarryOnStarter starter) { carry_on_ = std::move(starter); }
    void SetHistoryReader(HistoryReader reader) { history_reader_ = std::move(reader); }
    void SetWorker(Worker worker) { worker_ = std::move(worker); }
    // Asks the run in progress to end after the job in hand (the program's stop flag).
    void SetStopRequest(std::function<void()> stop) { stop_ = std::move(stop); }
    // A run is in progress.
    bool Running() const { return running_; }
    // The end was confirmed during a run: the program ends once the job in hand has finished.
    bool EndPending() const { return end_pending_; }

    // Geometry from the fonts in use: every title as wide and high as its text needs, the grid's
    // columns at least as wide as their titles. Called again after the appearance is applied.
    void LayoutControls();

    // The history view of the grid's row (the button "履歴表示(&R)", or R in the grid).
    void OpenHistory(int row);
    HistoryView* History() const { return history_; }
    // Reads a page of a center's history on the worker; done gets it on this thread.
    void ReadHistory(const std::string& center, std::int32_t before, std::function<void(const HistoryPage&)> done);
    // Carries on a failed job as a run of its own (from the history view).
    void StartCarryOn(std::int32_t serial);

    // Start-up steps that need the screen.
    void FillCenterGrid(const MethodNamer& method_name);
    void ClearScreenFields();
    void PrepareLabels(const std::string& today);
    void ShowOperator();

    // What the job runner shows while a job runs. Each text goes to the row's field first.
    void ShowStatus(int row, int column, const std::string& text) override;
    void SetRowState(int row, std::int16_t state) override;
    void MakeRowCurrent(int row) override;

    // Events, callable directly by tests.
    void OnTimer(const LocalDateTime& now);
    void OnCommand(int index);
    // Screen-wide key handling, before the focused control. True when the key was consumed.
    bool OnScreenKey(int key);
    int CheckField(int index);

    // Set when the program ends: the operator confirmed, and no run was in progress or it has ended.
    bool EndRequested() const { return end_requested_; }

signals:
    void RunningChanged(bool running);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void BuildProgressWindow();
    // Hands the run to the worker; FinishRun takes its report back on this thread.
    void StartRun(std::function<RunReport()> run);
    void FinishRun(const RunReport& report);
    void ShowProgressFor(int row);
    void SetBusy(bool busy);
    void EnableButtons(bool enabled);
    bool AskExit();
    // The operator confirmed the end: now, or after the job in hand when a run is in progress.
    void RequestEnd();
    void EndProgram();
    void FieldGotFocus(QLineEdit& field);
    void FieldLostFocus(QLineEdit& field);
    void SelectAllText(QLineEdit& field);
    void FocusNextField(int key);
    void FocusPreviousField();
    void CheckFullField(QLineEdit& field, int key, Qt::KeyboardModifiers modifiers);
    int ActiveFieldIndex() const;
    void WriteMark(int row);
    void SelectWholeRow(int row);
    double ColourOfState(std::int16_t state) const;

    WorkArea& work_;
    MessageBoxes& boxes_;
    const Clock& clock_;
    RunStarter run_;
    CarryOnStarter carry_on_;
    HistoryReader history_reader_;
    Worker worker_;
    std::function<void()> stop_;

    QLabel* pgid_ = nullptr;
    QLabel* koumoku_ = nullptr;
    QLabel* date_ = nullptr;
    QLabel* opcd_ = nullptr;
    QLabel* opnm_ = nullptr;
    QLineEdit* sdate_ = nullptr;
    QLineEdit* ktime_ = nullptr;
    QTableWidget* grid_ = nullptr;
    std::array<QPushButton*, 2> cmd_{};
    QPushButton* history_button_ = nullptr;
    QTimer* tmr_ = nullptr;
    QWidget* sub_frm_ = nullptr;
    QLabel* sub_center_ = nullptr;  // the center whose job runs
    HistoryView* history_ = nullptr;

    std::vector<QLineEdit*> input_fields_;  // by tab position: 0 SDATE, 1 KTIME
    bool sdate_key_released_ = false;       // only the first key released in SDATE may move on
    bool busy_ = false;
    bool running_ = false;
    bool end_pending_ = false;
    bool end_requested_ = false;
    bool esc_asked_ = false;  // the screen already asked about this Esc
    int anchor_row_ = 0;      // the row a selection started from
};

}  // namespace edi
