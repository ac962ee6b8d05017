// SQL scripts (the schema, demo data): statements separated by semicolons.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "startup/WorkArea.h"

namespace edi {

// The statements of a script, split at semicolons outside quoted texts and names;
// "--" line comments and "/* */" comments dropped, blank statements left out.
std::vector<std::string> SplitSqlScript(std::string_view script);

// Runs every statement of the script through ExecuteSql in order. False at the first
// statement that fails, with that statement and the driver's message in error.
bool RunSqlScript(WorkArea& work, std::string_view script, std::string& error);

}  // namespace edi
