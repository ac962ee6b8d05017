// The history screen G5001002 of one center: its recent jobs, newest first, a page at a time,
// each with its stage rows (times, counts, file names, codes and what each code means), the
// ERR.LOG lines of the selected job's conversions, and "再実行(&C)" for a job that may be
// carried on. Read-only: the history is read on the worker and shown when it arrives.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "startup/MessageBox.h"
#include "startup/WorkArea.h"
#include "transfer/CenterHistory.h"

class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace edi {

inline constexpr const char* kHistoryEmpty = "処理履歴がありません";
inline constexpr const char* kHistoryUnreadable = "処理履歴を読めません";
inline constexpr const char* kHistoryLoading = "読込中…";

// Grid columns of the history screen.
enum HistoryColumn { kColSerial, kColBranch, kColKind, kColStart, kColEnd, kColIn, kColOut, kColFile, kColEndCode,
                     kColDetail, kColMeaning, kHistoryColumns };

// The name of a row's 処理種別 as the screen shows it.
std::string KindName(const std::string& kind);
// What a row's codes mean, with the jobs it names ("通番 3").
std::string RowMeaning(const CenterJob& job, const HistoryLine& row);
// An ERR.LOG line as the screen lists it: code, meaning, the line's own text.
std::string LogLineText(const std::string& line);

class HistoryView final : public QDialog {
    Q_OBJECT

public:
    using Reader = std::function<void(const std::string& center, std::int32_t before,
                                      std::function<void(const HistoryPage&)> done)>;
    using CarryOn = std::function<void(std::int32_t serial)>;

    HistoryView(const WorkArea& work, MessageBoxes& boxes, QWidget* parent = nullptr);

    void SetReader(Reader reader) { reader_ = std::move(reader); }
    void SetCarryOn(CarryOn carry_on) { carry_on_ = std::move(carry_on); }
    // Shows the center's newest page.
    void ShowCenter(const std::string& code, const std::string& name);
    // Reads the page shown again (after a run), when the screen is open.
    void Reload();
    // No carry-on while a run is on or a schedule is armed.
    void SetRunning(bool running);

    const HistoryPage& page() const { return page_; }
    // The job of the grid's current row; 0 when none.
    std::int32_t SelectedSerial() const;
    // "再実行(&C)": asks, then hands the job to the window.
    void OnCarryOn();

private:
    void Load(std::int32_t before);
    void Fill(const HistoryPage& page);
    void ShowSelected();
    void ApplyTitleLook();
    const CenterJob* SelectedJob() const;

    const WorkArea& work_;
    MessageBoxes& boxes_;
    Reader reader_;
    CarryOn carry_on_;
    std::string center_;
    std::vector<std::int32_t> cursors_;  // `before` of each page opened, the one shown last
    HistoryPage page_;
    int pending_ = 0;  // reads asked for; only the last one's answer is shown
    bool running_ = false;

    QLabel* code_ = nullptr;
    QLabel* name_ = nullptr;
    QTableWidget* grid_ = nullptr;
    QListWidget* log_ = nullptr;
    QLabel* message_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* carry_ = nullptr;
};

}  // namespace edi
