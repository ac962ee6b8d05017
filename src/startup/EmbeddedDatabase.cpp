#include "startup/EmbeddedDatabase.h"

#include <system_error>

#include "startup/DbSession.h"

namespace edi {

std::string SqliteDriverReference() {
    if (IsOdbcDriverRegistered(kSqliteDriverName)) return std::string(kSqliteDriverName);
    // Debian installs the library per architecture under /usr/lib/<triplet>/odbc.
    std::error_code error;
    for (const char* root : {"/usr/lib", "/usr/local/lib", "/usr/lib64"}) {
        const std::filesystem::path direct = std::filesystem::path(root) / "odbc" / "libsqlite3odbc.so";
        if (std::filesystem::exists(direct, error)) return direct.string();
        for (std::filesystem::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
            const std::filesystem::path candidate = it->path() / "odbc" / "libsqlite3odbc.so";
            if (std::filesystem::exists(candidate, error)) return candidate.string();
        }
        error.clear();
    }
    return {};
}

std::string EmbeddedOdbcIni(std::string_view dsn, const std::filesystem::path& database_file, std::string_view driver) {
    std::error_code error;
    std::filesystem::path file = std::filesystem::absolute(database_file, error);
    if (error) file = database_file;
    std::string text;
    text += "[" + std::string(dsn) + "]\n";
    text += "Description = K500100 embedded database (SQLite)\n";
    text += "Driver = " + std::string(driver) + "\n";
    text += "Database = " + file.lexically_normal().string() + "\n";
    // Milliseconds a lock request waits for another process's lock before it fails: the
    // program's own busy wait, which its sessions set whatever this says, for other tools.
    text += "Timeout = " + std::to_string((kBusyWait / 2).count()) + "\n";
    return text;
}

}  // namespace edi
