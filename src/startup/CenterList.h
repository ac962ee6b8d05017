// The centers of this terminal: the query and the rows in memory.
#pragma once

#include <string>

#include "startup/DbSession.h"
#include "startup/MessageBox.h"
#include "startup/WorkArea.h"

namespace edi {

inline constexpr const char* kNoCenterData = "該当するデータがありませんでした";

// The center query for a terminal, pieces joined exactly as the monitor has always sent them.
std::string CenterQuerySql(const std::string& terminal_name);

// Opens the center query; "9999" (set closed) when it has no row or the database fails.
std::string QueryCenters(WorkArea& work, ResultSet& result);
// Copies the open set's rows into Centers: run flag on, empty status, state 0.
std::string FillCenters(WorkArea& work, ResultSet& result);
// The 区分名称 of a 区分 and code; "" when there is none or the lookup fails.
std::string LookupKubunName(WorkArea& work, const std::string& kubun, const std::string& code);
// Query and copy; the no-data message (OK only, no icon) when the query fails or finds no row.
// A database failure (busy past the busy wait, lost, refused) has its reason in ERR.LOG and in
// work.Db->LastReport(); the message stays the same.
std::string LoadCenters(WorkArea& work, MessageBoxes& boxes);

}  // namespace edi
