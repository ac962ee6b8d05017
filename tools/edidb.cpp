// edidb: creates the embedded database and runs data scripts on it.
//   edidb init DIR            DIR/k500100.sqlite from the schema, DIR/odbc.ini with the DSN K500100
//   edidb load DIR FILE.sql   runs the statements of FILE.sql on that database
// Programs reach the database with ODBCINI=DIR/odbc.ini and the data source K500100.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>

#include "EmbeddedSchema.h"
#include "startup/DbSession.h"
#include "startup/EmbeddedDatabase.h"
#include "startup/SqlScript.h"
#include "startup/WorkArea.h"

namespace {

namespace fs = std::filesystem;

int Usage() {
    std::cerr << "usage: edidb init DIR\n"
                 "       edidb load DIR FILE.sql\n";
    return 2;
}

bool Connect(const fs::path& dir, edi::WorkArea& work) {
    const fs::path ini = dir / "odbc.ini";
    setenv("ODBCINI", ini.c_str(), 1);
    work.TerminalName = "edidb";
    work.DbSource = std::string(edi::kEmbeddedDsn);
    std::string reason;
    if (!edi::ConnectDatabase(work, reason)) {
        std::cerr << "edidb: " << reason << " (" << ini.string() << ")\n";
        return false;
    }
    return true;
}

bool RunScript(edi::WorkArea& work, std::string_view script, const std::string& what) {
    std::string error;
    if (!edi::RunSqlScript(work, script, error)) {
        std::cerr << "edidb: " << what << " failed: " << error << "\n";
        return false;
    }
    return true;
}

int Init(const fs::path& dir_argument) {
    std::error_code error;
    fs::create_directories(dir_argument, error);
    const fs::path dir = fs::absolute(dir_argument, error).lexically_normal();
    const fs::path database = dir / std::string(edi::kEmbeddedFileName);
    if (fs::exists(database, error)) {
        std::cerr << "edidb: " << database.string() << " exists already; remove it to start afresh\n";
        return 1;
    }
    const std::string driver = edi::SqliteDriverReference();
    if (driver.empty()) {
        std::cerr << "edidb: the SQLite3 ODBC driver (libsqliteodbc) is not installed\n";
        return 1;
    }
    {
        std::ofstream ini(dir / "odbc.ini", std::ios::binary | std::ios::trunc);
        ini << edi::EmbeddedOdbcIni(edi::kEmbeddedDsn, database, driver);
        if (!ini.flush()) {
            std::cerr << "edidb: cannot write " << (dir / "odbc.ini").string() << "\n";
            return 1;
        }
    }
    edi::WorkArea work;
    if (!Connect(dir, work) || !RunScript(work, edi::kEmbeddedSchema, "the schema")) {
        work.Db.reset();
        fs::remove(database, error);
        return 1;
    }
    std::cout << "created " << database.string() << "\n"
              << "data source " << edi::kEmbeddedDsn << " in " << (dir / "odbc.ini").string() << "\n"
              << "use it with: export ODBCINI=" << (dir / "odbc.ini").string() << "\n";
    return 0;
}

int Load(const fs::path& dir, const fs::path& script_path) {
    std::ifstream in(script_path, std::ios::binary);
    if (!in) {
        std::cerr << "edidb: cannot read " << script_path.string() << "\n";
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();
    edi::WorkArea work;
    if (!Connect(dir, work) || !RunScript(work, text.str(), script_path.string())) return 1;
    std::cout << "loaded " << script_path.string() << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command == "init" && argc == 3) return Init(argv[2]);
    if (command == "load" && argc == 4) return Load(argv[2], argv[3]);
    return Usage();
}
