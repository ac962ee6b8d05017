// Carrying on a failed job once an operator fixed its cause (a master row, the registration
// program): a job whose receive stage ended well but whose conversion or registration did not
// keeps its received file in the receive folder. A new job takes that file over (renamed to its
// own serial: no two jobs can hold it) and runs the conversion and the registration again.
//
//   new job row        詳細コード "8102", 最終シーケンス番号 = the job it carries on; written
//                      before the file is touched, so a run that ends in between is carried on
//                      from here (JobRunner::CarryOnJob) and takes over that file, no other
//   its receive row    "0000"/"8102" and the file's new name, or "5001"/"8102" when the file
//                      is no longer there
//   the earlier job    its rows stay as they were; its file is gone from the receive folder
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "startup/DbSession.h"
#include "startup/WorkArea.h"
#include "transfer/JobRecovery.h"

namespace edi {

// Why a job cannot be carried on.
enum class CarryOnBar {
    kNone,             // it can
    kUnknownJob,       // no receive job has this serial
    kOtherTerminal,    // its center is not one of this terminal's
    kUnfinished,       // its job row is still open: the next run carries it on by itself
    kNotReceived,      // its receive stage did not end well
    kEndedWell,        // it was registered
    kMayBeRegistered,  // the run ended while the registration program ran ("4100"/"0003")
    kTakenOver,        // a later job took its received file over
    kNoReceivedFile,   // its received file is no longer in the receive folder
    kUnreadable,       // its history rows cannot be read
};

// One text for the window, one for the headless runner; taken_by names the later job.
std::string CarryOnBarText(CarryOnBar bar, std::int32_t taken_by, bool japanese);

// What the judgement needs to know of a job.
struct FinishedJob {
    std::int32_t serial = 0;
    std::string center_code;
    bool open = false;          // its job row has no end yet
    std::int32_t taken_by = 0;  // a later job whose row names this one (0: none)
    std::vector<JobRow> rows;   // its stage rows, in branch order
};

struct CarryOnCheck {
    CarryOnBar bar = CarryOnBar::kNone;
    // The registration program may have run without saying how it went ("4100"/"0002", an
    // unreadable status line): someone should look at the business system first.
    bool caution = false;
    std::string received_file;  // in the receive folder
    std::int32_t taken_by = 0;  // for kTakenOver: the later job
};

// The job's received file: the name its (last) receive row recorded, in the receive folder,
// when it begins with the job's serial part; empty otherwise.
std::string ReceivedFileOf(const FinishedJob& job, const std::string& receive_folder);
CarryOnCheck JudgeCarryOn(const FinishedJob& job, const std::string& receive_folder);

// The job as the history holds it; nothing when it has no receive job row (or the database fails:
// then failed is set).
std::optional<FinishedJob> ReadFinishedJob(WorkArea& work, std::int32_t serial, bool& failed);
// The judgement for a job of this terminal, read from the history and the receive folder.
CarryOnCheck CheckCarryOn(WorkArea& work, std::int32_t serial, std::string& center_code);

// The job whose received file the job takes over (its job row's 最終シーケンス番号), 0 for none;
// nothing on a database failure.
std::optional<std::int32_t> TakenOverSerial(WorkArea& work, std::int32_t serial);
// A column's whole number from 0 to 2147483647 (blanks around allowed); nothing otherwise.
std::optional<std::int32_t> SerialValue(const DbValue& value);
// Writes it into the open job row before anything else happens. False on a database failure.
bool NoteTakeOver(WorkArea& work, std::int32_t serial, std::int32_t taken_from);

// The received file of job `from` renamed to the name of job `serial` (only its serial part
// changes), flushed. Done already counts. 0 done; 1 no such file; 9 the rename failed.
int TakeOverFile(const std::string& folder, const std::string& from_name, std::int32_t serial, std::string& taken_name);

}  // namespace edi
