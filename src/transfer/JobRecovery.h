// Carrying on the jobs a crash, a kill or a power cut left unfinished. Nothing of a job lives
// only in memory: where it stands follows from its history rows and its files, and the next
// run of the terminal finishes it before it takes any new file (JobRunner::CarryOnJob).
//
//   receive row open      the link file is moved now (when the received file is already whole,
//                         the link file left beside it is deleted only if it holds the same
//                         bytes); a mail job keeps a stored attachment or takes its mail now
//   conversion cut short  its open rows are closed with "8101", the files it derives are
//                         removed and the conversion runs again from the received file
//   registration open     a status file is read (the program is not started again); a started
//                         program without status file is recorded "4100"/"0003" and not started
//                         again; a program never started is started now
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "startup/WorkArea.h"

namespace edi {

// One history row of a job as recovery sees it.
struct JobRow {
    std::int16_t 枝番 = 0;
    std::string 処理種別;
    bool open = false;  // no end date yet
    std::string 終了コード;
    std::string 詳細コード;
    std::string ファイル名;
};

// The row of a stage that runs once per job (receive, registration).
struct StageRow {
    std::int16_t open = 0;  // its open row to finish, 0 when none
    bool closed = false;    // the stage ended: its row is closed with these codes
    std::string 終了コード;
    std::string 詳細コード;
};

// Where a job stands, from its rows.
struct JobProgress {
    bool carried_on = false;
    StageRow receive;
    StageRow registration;
    bool converted = false;               // the job reached its registration stage
    std::vector<std::int16_t> cut_short;  // open rows of stages that run again
    std::int32_t takes_over = 0;          // the earlier job whose received file this job takes over
};

// The stage rows of a job (枝番 above 0) in branch order; nothing on a database failure.
std::optional<std::vector<JobRow>> ReadJobRows(WorkArea& work, std::int32_t serial);
JobProgress ProgressOf(const std::vector<JobRow>& rows);

struct UnfinishedJob {
    std::int32_t serial = 0;
    std::string center_code;
};
// Receive jobs whose job row is open, of the centers of this terminal (work.Centers), oldest
// first; nothing on a database failure.
std::optional<std::vector<UnfinishedJob>> FindUnfinishedJobs(WorkArea& work);

// Hidden files a cut-short write of the job left in the folder (".<serial>...", receipts kept).
void RemoveJobTemporaries(const std::string& folder, std::int32_t serial);
// What the conversion derives from the received file: the local and test-data files, the CII
// file made from a received XML file and the converters' temporary files. The received file
// itself stays.
void RemoveConvertedFiles(const std::string& folder, std::int32_t serial, const std::string& center_code);

// Finishes the take-over of a link-package file that was under way: with the received file
// already whole, the link file is deleted only when it holds the same bytes (else it is a
// later message and stays for a later job). 0 done, else MoveFile's result.
int FinishLinkMove(const std::string& link_path, const std::string& received_path);

}  // namespace edi
