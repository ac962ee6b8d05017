#include "support/DbTestSupport.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>

#include "startup/EmbeddedDatabase.h"
#include "startup/SqlScript.h"

namespace edi::test {

namespace {

// The value of KEY=value in the state file pg-cluster.sh writes; empty when it has none.
std::string StateValue(const std::filesystem::path& state_file, const std::string& key) {
    std::ifstream in(state_file);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return {};
}

std::filesystem::path SharedPgClusterState() {
    if (const char* state = std::getenv("K500100_PG_STATE"); state != nullptr && *state != '\0') return state;
    return K500100_PG_STATE_FILE;
}

std::optional<PgCluster> ReadPgCluster(const std::filesystem::path& state_file, std::string& error) {
    PgCluster cluster{StateValue(state_file, "PGHOST"), StateValue(state_file, "PGPORT")};
    if (cluster.host.empty() || cluster.port.empty()) {
        error = "no PostgreSQL test cluster in " + state_file.string() +
                " (run the tests through ctest, whose pg_cluster fixture starts it)";
        return std::nullopt;
    }
    return cluster;
}

std::string PgConnectString(const PgCluster& cluster, const std::string& database) {
    return "DRIVER={PostgreSQL Unicode};SERVER=" + cluster.host + ";PORT=" + cluster.port + ";DATABASE=" + database +
           ";UID=postgres;PWD=;";
}

bool RunAdmin(const PgCluster& cluster, const std::string& sql, std::string& error) {
    WorkArea admin;
    admin.Db = DbSession::Open(PgConnectString(cluster, "postgres"), "test-admin", error);
    if (!admin.Db) return false;
    admin.SqlText = sql;
    if (!ExecuteSql(admin)) {
        error = admin.Db->LastError();
        return false;
    }
    return true;
}

}  // namespace

std::string SchemaText() { return ReadText(K500100_SCHEMA_FILE); }

OwnPgCluster::OwnPgCluster() {
    std::string error;
    if (Run("start")) cluster_ = ReadPgCluster(state_file(), error);
}

OwnPgCluster::~OwnPgCluster() { Stop(); }

bool OwnPgCluster::Run(const char* command) {
    const std::string line =
        std::string("'") + K500100_PG_SCRIPT + "' " + command + " '" + state_.path().string() + "' >/dev/null";
    return std::system(line.c_str()) == 0;
}

void OwnPgCluster::Stop() {
    if (cluster_) Run("stop");
    cluster_.reset();
}

std::filesystem::path OwnPgCluster::data_dir() const { return StateValue(state_file(), "PGDATA"); }

std::unique_ptr<TestDatabase> TestDatabase::Create(Backend backend, std::string& error) {
    std::unique_ptr<TestDatabase> db(new TestDatabase());
    static std::atomic<int> counter{0};
    const std::string unique = std::to_string(getpid()) + "_" + std::to_string(++counter);
    db->dsn_ = "K500100TEST_" + unique;
    std::string ini;
    if (backend == Backend::kSqlite) {
        const std::string driver = SqliteDriverReference();
        if (driver.empty()) {
            error = "the SQLite3 ODBC driver is not installed";
            return nullptr;
        }
        ini = EmbeddedOdbcIni(db->dsn_, db->sqlite_file(), driver);
    } else {
        db->cluster_ = ReadPgCluster(SharedPgClusterState(), error);
        if (!db->cluster_) return nullptr;
        db->pg_database_ = "k500100_test_" + unique;
        if (!RunAdmin(*db->cluster_, "CREATE DATABASE " + db->pg_database_ + " ENCODING 'UTF8' TEMPLATE template0",
                      error)) {
            error = "cannot create a PostgreSQL test database: " + error;
            db->pg_database_.clear();
            return nullptr;
        }
        db->user_ = "postgres";
        ini = "[" + db->dsn_ + "]\nDriver = PostgreSQL Unicode\nServername = " + db->cluster_->host +
              "\nPort = " + db->cluster_->port + "\nDatabase = " + db->pg_database_ + "\n";
    }
    const std::filesystem::path ini_path = db->dir_ / "odbc.ini";
    WriteFile(ini_path, ini);
    setenv("ODBCINI", ini_path.c_str(), 1);

    WorkArea work;
    work.Db = DbSession::Open(db->ConnectString(), "test-schema", error);
    if (!work.Db) return nullptr;
    // Make sure the data source reached is this database, not one the driver manager remembers.
    work.SqlText = backend == Backend::kSqlite ? "SELECT sqlite_version() AS v" : "SELECT current_database() AS v";
    ResultSet check;
    if (!OpenQuery(work, check) || check.EndOfSet() ||
        (backend == Backend::kPostgres && check.Value("v") != db->pg_database_)) {
        error = "the data source " + db->dsn_ + " did not reach the new test database";
        return nullptr;
    }
    check.Close();
    if (!RunSqlScript(work, SchemaText(), error)) return nullptr;
    return db;
}

TestDatabase::~TestDatabase() {
    if (cluster_ && !pg_database_.empty()) {
        std::string error;
        RunAdmin(*cluster_, "DROP DATABASE IF EXISTS " + pg_database_ + " WITH (FORCE)", error);
    }
}

std::string TestDatabase::ConnectString() const { return "DSN=" + dsn_ + ";UID=" + user_ + ";PWD=;"; }

bool TestDatabase::Connect(WorkArea& work) const {
    work.TerminalName = "TESTTERM";
    work.DbSource = dsn_;
    work.DbUser = user_;
    work.DbPassword = "";
    return ConnectDatabase(work);
}

}  // namespace edi::test
