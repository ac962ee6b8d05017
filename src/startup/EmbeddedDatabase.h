// The embedded default database: one SQLite file reached through the SQLite3 ODBC driver,
// named by a DSN in a project-local odbc.ini that ODBCINI points to (no edit of /etc).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace edi {

inline constexpr std::string_view kEmbeddedDsn = "K500100";
inline constexpr std::string_view kEmbeddedFileName = "k500100.sqlite";
inline constexpr std::string_view kSqliteDriverName = "SQLite3";

// The SQLite3 driver as odbc.ini names it: its odbcinst.ini name when registered, else the
// path of the driver library; empty when neither is found.
std::string SqliteDriverReference();

// odbc.ini text with one DSN for the SQLite file (an absolute path is written).
std::string EmbeddedOdbcIni(std::string_view dsn, const std::filesystem::path& database_file, std::string_view driver);

}  // namespace edi
