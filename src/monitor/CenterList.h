// The centers of this terminal: the query, the rows in memory, and the operator's run marks.
#pragma once

#include <string>
#include <vector>

#include "startup/DbSession.h"
#include "startup/MessageBox.h"
#include "startup/WorkArea.h"

namespace edi {

inline constexpr const char* kNoCenterData = "該当するデータがありませんでした";
inline constexpr const char* kMarkRun = "○";
inline constexpr const char* kMarkSkip = "×";

// The center query for a terminal, pieces joined exactly as the monitor has always sent them.
std::string CenterQuerySql(const std::string& terminal_name);

// Opens the center query; "9999" (set closed) when it has no row or the database fails.
std::string QueryCenters(WorkArea& work, ResultSet& result);
// Copies the open set's rows into Centers: run flag on, empty status, state 0.
std::string FillCenters(WorkArea& work, ResultSet& result);
// The 区分名称 of a 区分 and code; "" when there is none or the lookup fails.
std::string LookupKubunName(WorkArea& work, const std::string& kubun, const std::string& code);
// Query and copy; the no-data message (OK only, no icon) when the query fails.
std::string LoadCenters(WorkArea& work, MessageBoxes& boxes);

// Space on the grid: flips every waiting row from the current row down to the selection's
// end row, only while idle. Returns the rows whose mark changed.
std::vector<int> ToggleMarksBySpace(WorkArea& work, int current_row, int end_row);
// A click: flips the row when idle, already selected, waiting, and the click left column 1
// current (the code cell, or the mark cell whose click moves to column 1). The clicked row
// becomes SelectedRow either way. True when the mark changed.
bool ToggleMarkByClick(WorkArea& work, int clicked_row, int current_column);

}  // namespace edi
