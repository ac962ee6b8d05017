// Test databases on both backends: a fresh SQLite file, or a fresh database in the PostgreSQL
// test cluster (started by the pg_cluster fixture), each holding db/schema.sql.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "startup/DbSession.h"
#include "startup/WorkArea.h"
#include "support/Masters.h"
#include "support/TestSupport.h"

namespace edi::test {

enum class Backend { kSqlite, kPostgres };

// Where the PostgreSQL test cluster listens, from the state file the fixture writes.
struct PgCluster {
    std::string host;
    std::string port;
};

std::string SchemaText();

// A PostgreSQL cluster of a test's own (tests/support/pg-cluster.sh) for outages: paused
// (server stopped, data kept) and resumed on the same port; stopped and removed at the end.
class OwnPgCluster {
public:
    OwnPgCluster();
    ~OwnPgCluster();
    OwnPgCluster(const OwnPgCluster&) = delete;
    OwnPgCluster& operator=(const OwnPgCluster&) = delete;

    bool started() const { return cluster_.has_value(); }
    const PgCluster& where() const { return *cluster_; }
    std::filesystem::path data_dir() const;  // PGDATA, which holds pg_hba.conf
    std::filesystem::path state_file() const { return state_ / "cluster.env"; }  // for K500100_PG_STATE
    bool Pause() { return Run("pause"); }
    bool Resume() { return Run("resume"); }
    void Stop();

private:
    bool Run(const char* command);
    TempDir state_;
    std::optional<PgCluster> cluster_;
};

// One fresh database with the schema. While it lives ODBCINI names its odbc.ini, which
// defines its data source; the PostgreSQL database is dropped at the end. The driver manager
// caches what it read of odbc.ini by data-source name, so every database has a name of its own.
class TestDatabase {
public:
    static std::unique_ptr<TestDatabase> Create(Backend backend, std::string& error);
    ~TestDatabase();
    TestDatabase(const TestDatabase&) = delete;
    TestDatabase& operator=(const TestDatabase&) = delete;

    const std::string& user() const { return user_; }
    const std::string& dsn() const { return dsn_; }
    const std::string& pg_database() const { return pg_database_; }  // empty on SQLite
    std::filesystem::path sqlite_file() const { return dir_ / "k500100.sqlite"; }
    // "DSN=<dsn>;UID=<user>;PWD=;"
    std::string ConnectString() const;
    // Fills DbSource/DbUser/DbPassword and connects work through ConnectDatabase.
    bool Connect(WorkArea& work) const;

private:
    TestDatabase() = default;
    TempDir dir_;
    std::string user_;
    std::string dsn_;
    std::optional<PgCluster> cluster_;
    std::string pg_database_;
};

struct SqliteBackend {
    static constexpr Backend kBackend = Backend::kSqlite;
};
struct PostgresBackend {
    static constexpr Backend kBackend = Backend::kPostgres;
};
using DbBackends = ::testing::Types<SqliteBackend, PostgresBackend>;
// Test names carry the backend; ctest ties every name holding "Postgres" to the cluster fixture.
struct DbBackendNames {
    template <typename T>
    static std::string GetName(int) {
        return T::kBackend == Backend::kSqlite ? "SQLite" : "Postgres";
    }
};

// A typed fixture: a fresh database per test and a work area connected to it.
template <typename B>
class DbFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        db_ = TestDatabase::Create(B::kBackend, error);
        ASSERT_NE(db_, nullptr) << error;
        ASSERT_TRUE(db_->Connect(work_)) << "cannot connect to the test database";
    }
    void TearDown() override {
        work_.Db.reset();
        db_.reset();
    }
    bool Exec(const std::string& sql) {
        work_.SqlText = sql;
        const bool ok = ExecuteSql(work_);
        EXPECT_TRUE(ok) << sql << "\n" << (work_.Db ? work_.Db->LastError() : std::string());
        return ok;
    }
    // The one value of a one-row query; "<none>" when it has no row, "<null>" for Null.
    std::string Scalar(const std::string& sql, const char* column) { return RowValues(work_, sql, {column}); }

    std::unique_ptr<TestDatabase> db_;
    WorkArea work_;
};

}  // namespace edi::test
