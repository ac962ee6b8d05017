// A center's recent receive jobs as the history view shows them: each job's rows of
// FL1102処理履歴ファイル, the ERR.LOG lines its conversions wrote, and whether it may be carried
// on. Read a page at a time, newest job first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "startup/WorkArea.h"
#include "transfer/JobCarryOn.h"

namespace edi {

inline constexpr int kHistoryPageJobs = 20;
// How much of the end of ERR.LOG is searched for a page's lines, and how many lines a job keeps.
inline constexpr std::uintmax_t kLogTailBytes = 8u << 20;
inline constexpr std::size_t kLogLinesPerJob = 200;

// One row of a job: the job row (枝番 0) or a stage row.
struct HistoryLine {
    std::int16_t 枝番 = 0;
    std::string 処理種別;
    std::string 開始;  // "yyyy/mm/dd hh:mm:ss"
    std::string 終了;  // empty while the row is open
    std::optional<std::int32_t> 入力レコード数;
    std::optional<std::int32_t> 出力レコード数;
    std::string 終了コード;
    std::string 詳細コード;
    std::string ファイル名;
};

struct CenterJob {
    std::int32_t serial = 0;
    std::vector<HistoryLine> rows;  // the job row first, then its stages in branch order
    std::int32_t takes_over = 0;    // the earlier job whose received file it converted again
    CarryOnCheck carry_on;          // whether it may be carried on now, and why not
    std::vector<std::string> log;   // ERR.LOG lines written while its conversions ran
};

struct HistoryPage {
    std::vector<CenterJob> jobs;  // newest first
    bool older = false;           // more jobs lie before the last one
    bool failed = false;          // the history could not be read
};

// The center's jobs with a serial below `before` (0: from the newest), at most `count`.
HistoryPage ReadCenterHistory(WorkArea& work, const std::string& center_code, std::int32_t before,
                              int count = kHistoryPageJobs);

// The lines of ERR.LOG (its last tail_bytes) that follow a converter's start line naming one of
// the serials, up to the next start line; at most kLogLinesPerJob per job, as UTF-8 text.
std::map<std::int32_t, std::vector<std::string>> JobLogLines(const std::filesystem::path& log_file,
                                                             const std::set<std::int32_t>& serials,
                                                             std::uintmax_t tail_bytes = kLogTailBytes);

// An ERR.LOG line cut into its code (the leading digits) and its text.
struct LogLine {
    std::string code;
    std::string text;
};
LogLine ParseLogLine(const std::string& line);

}  // namespace edi
