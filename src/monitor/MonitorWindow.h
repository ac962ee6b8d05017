// The monitor screen G5001001: the center grid, the run date and start time, the two run
// buttons, the 300 ms timer and the progress window.
#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "startup/Clock.h"
#include "startup/MessageBox.h"
#include "startup/WorkArea.h"
#include "transfer/JobSeams.h"
#include "transfer/ReceiveRun.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;

namespace edi {

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

    MonitorWindow(WorkArea& work, MessageBoxes& boxes, const Clock& clock);
    ~MonitorWindow() override;

    void SetRunStarter(RunStarter starter) { run_ = std::move(starter); }
    // A run is in progress (the screen stays with it until it ends).
    bool Running() const { return running_; }

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

    // Set when the operator confirmed the end of the program.
    bool EndRequested() const { return end_requested_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void RunRows(const std::vector<int>& rows);
    void SetBusy(bool busy);
    void EnableButtons(bool enabled);
    bool AskExit();
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

    QLabel* pgid_ = nullptr;
    QLabel* koumoku_ = nullptr;
    QLabel* date_ = nullptr;
    QLabel* opcd_ = nullptr;
    QLabel* opnm_ = nullptr;
    QLineEdit* sdate_ = nullptr;
    QLineEdit* ktime_ = nullptr;
    QTableWidget* grid_ = nullptr;
    std::array<QPushButton*, 2> cmd_{};
    QTimer* tmr_ = nullptr;
    QWidget* sub_frm_ = nullptr;

    std::vector<QLineEdit*> input_fields_;  // by tab position: 0 SDATE, 1 KTIME
    bool sdate_key_released_ = false;       // only the first key released in SDATE may move on
    bool busy_ = false;
    bool running_ = false;
    bool end_requested_ = false;
    bool esc_asked_ = false;  // the screen already asked about this Esc
    int anchor_row_ = 0;      // the row a selection started from
};

}  // namespace edi
