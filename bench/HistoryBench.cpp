// What the process history costs a job on an empty history and on a long one, on both backends.
//   history_bench [--rows N] [--jobs N] [--rounds N] [--backend sqlite|postgres|both] [--dir DIR] [--keep]
// A job here is what the job runner asks of the database: the job row opened, the receive,
// conversion and registration stage rows opened (with the branches the job numbers itself) and
// closed, the center rows read once, the partner companies read by the registration stage, the
// job row closed, in the job's five commits. Two databases are timed, one with an empty history and one filled to N rows (default
// 1,000,000), in turns: each round times that many jobs (default 100) on each, and the median
// round counts. SQLite runs on files in DIR, PostgreSQL on a throwaway cluster started with
// tests/support/pg-cluster.sh.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "startup/DbSession.h"
#include "startup/EmbeddedDatabase.h"
#include "startup/SqlScript.h"
#include "transfer/JobRunner.h"
#include "transfer/ProcessHistory.h"

namespace fs = std::filesystem;
using namespace edi;

namespace {

const std::string kCenter = "BENCH01";

struct Options {
    long rows = 1000000;
    int jobs = 100;
    int rounds = 5;
    bool sqlite = true;
    bool postgres = true;
    fs::path dir = fs::temp_directory_path() / ("history-bench-" + std::to_string(getpid()));
    bool keep = false;
};

std::string ReadWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Exec(WorkArea& work, const std::string& sql) {
    work.SqlText = sql;
    if (ExecuteSql(work)) return true;
    std::cerr << "history_bench: " << work.Db->LastError() << "\n  in: " << sql.substr(0, 200) << "\n";
    return false;
}

bool PrepareDatabase(WorkArea& work) {
    std::string error;
    if (!RunSqlScript(work, ReadWhole(K500100_SCHEMA_FILE), error)) {
        std::cerr << "history_bench: the schema failed: " << error << "\n";
        return false;
    }
    return Exec(work,
                "INSERT INTO FL1903EDI制御マスタ (センターコード, 相手先種別, センター名, 送受信方式, 実行端末名, "
                "TCX受信ファイルパス, 送受信データ形式) VALUES ('BENCH01', '2', 'ベンチ', 'Z', 'BENCH', "
                "'/link/bench.cii', 'C')") &&
           Exec(work,
                "INSERT INTO FL1915センタ利用企業マスタ (センターコード, 相手先企業コード) VALUES ('BENCH01', 'P01')");
}

// Fills the history to rows rows: four per serial (the job and three stages), as jobs leave them.
// A history that grew over years has long been vacuumed; a fresh fill is vacuumed here, so that
// the server's own vacuum does not run in the middle of the timing.
bool FillHistory(WorkArea& work, long rows, bool postgres) {
    if (!Exec(work, "DELETE FROM FL1102処理履歴ファイル")) return false;
    const std::string last = std::to_string(rows - 1);
    return Exec(work,
                "INSERT INTO FL1102処理履歴ファイル (通番, 枝番, 送受信種別, 相手先種別, 処理種別, 処理開始日付, "
                "処理開始時刻, センターコード, 処理終了日付, 処理終了時刻, 入力レコード数, 終了コード, 詳細コード, "
                "ファイル名) WITH RECURSIVE s(g) AS (SELECT 0 UNION ALL SELECT g + 1 FROM s WHERE g < " +
                    last +
                    ") SELECT g / 4 + 1, g - (g / 4) * 4, 'R', '2', CASE g - (g / 4) * 4 WHEN 0 THEN '03' "
                    "WHEN 1 THEN '10' WHEN 2 THEN '31' ELSE '41' END, {d '2025-01-01'}, {t '09:00:00'}, "
                    "'BENCH01', {d '2025-01-01'}, {t '09:00:05'}, 10, '0000', '0000', "
                    "'/var/edi/in/BENCH01_RCV_' || g || '.CII' FROM s") &&
           Exec(work, postgres ? "VACUUM ANALYZE" : "ANALYZE");
}

bool CloseRow(WorkArea& work, std::int32_t serial, std::int16_t branch, const Clock& clock) {
    HistoryEnd end;
    end.通番 = serial;
    end.枝番 = branch;
    end.ファイル名 = "/var/edi/in/00000001_RCV_BENCH01_____.CII";
    CloseHistory(work, end, clock);
    return end.Result == "0000";
}

bool OpenRow(WorkArea& work, std::int32_t serial, std::string_view kind, std::int16_t branch, const Clock& clock) {
    HistoryStart start = ReceiveHistoryStart(serial, kind, kCenter);
    OpenStageHistory(work, start, clock, branch);
    return start.Result == "0000";
}

bool PartnerCompanies(WorkArea& work) {
    work.SqlText = "SELECT * FROM FL1915センタ利用企業マスタ WHERE センターコード = " + SqlQuote(kCenter);
    ResultSet set;
    return OpenQuery(work, set) && !set.EndOfSet();
}

// The commits fall where the job runner's do: before the file is taken, before the converter
// runs, before the registration program starts and at the job's end.
bool Job(WorkArea& work, const Clock& clock) {
    const HeldWrites held(work);
    HistoryStart job = ReceiveHistoryStart(0, kKindJob, kCenter);
    OpenJobHistory(work, job, clock);
    if (job.Result != "0000" || !CommitWrites(work)) return false;
    const std::int32_t serial = job.通番;
    CenterRow row;
    return OpenRow(work, serial, kKindTransfer, 1, clock) && ReadCenterRow(work, kCenter, row) == "0000" &&
           CommitWrites(work) && CloseRow(work, serial, 1, clock) && OpenRow(work, serial, "31", 2, clock) &&
           CommitWrites(work) && CloseRow(work, serial, 2, clock) && PartnerCompanies(work) &&
           OpenRow(work, serial, kKindRegistration, 3, clock) && CommitWrites(work) &&
           CloseRow(work, serial, 3, clock) && CloseRow(work, serial, 0, clock) && CommitWrites(work);
}

// Milliseconds for one round of jobs; negative when a job failed.
double TimeRound(WorkArea& work, int jobs) {
    const bench::StillClock clock;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < jobs; ++i) {
        if (!Job(work, clock)) return -1;
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return took.count() / jobs;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The two databases take turns round by round, so that a change in the machine's load falls
// on both alike.
bool Measure(const char* backend, WorkArea& empty, WorkArea& full, const Options& options, bool postgres) {
    if (!PrepareDatabase(empty) || !PrepareDatabase(full) || !FillHistory(full, options.rows, postgres)) return false;
    std::vector<double> empty_rounds;
    std::vector<double> full_rounds;
    if (TimeRound(empty, 5) < 0 || TimeRound(full, 5) < 0) return false;
    for (int round = 0; round < options.rounds; ++round) {
        empty_rounds.push_back(TimeRound(empty, options.jobs));
        full_rounds.push_back(TimeRound(full, options.jobs));
        if (empty_rounds.back() < 0 || full_rounds.back() < 0) return false;
    }
    const double at_empty = Median(empty_rounds);
    const double at_full = Median(full_rounds);
    const double slower = (at_full / at_empty - 1) * 100;
    std::printf("%-10s %12d %10.2f\n", backend, 0, at_empty);
    std::printf("%-10s %12ld %10.2f  %+.0f%% (target: at most +20%%: %s)\n", backend, options.rows, at_full, slower,
                slower <= 20 ? "met" : "NOT met");
    std::fflush(stdout);
    return true;
}

bool ConnectSqlite(const fs::path& dir, const std::string& dsn, WorkArea& work) {
    work.TerminalName = "BENCH";
    work.DbSource = dsn;
    work.Log.file = dir / "ERR.LOG";
    std::string reason;
    if (ConnectDatabase(work, reason)) return true;
    std::cerr << "history_bench: " << reason << "\n";
    return false;
}

bool RunSqlite(const Options& options) {
    const fs::path dir = options.dir / "sqlite";
    fs::create_directories(dir);
    const std::string driver = SqliteDriverReference();
    if (driver.empty()) {
        std::cerr << "history_bench: the SQLite3 ODBC driver is not installed\n";
        return false;
    }
    std::ofstream(dir / "odbc.ini") << EmbeddedOdbcIni("K500100BENCH0", dir / "empty.sqlite", driver)
                                    << EmbeddedOdbcIni("K500100BENCH1", dir / "full.sqlite", driver);
    setenv("ODBCINI", (dir / "odbc.ini").c_str(), 1);
    WorkArea empty;
    WorkArea full;
    return ConnectSqlite(dir, "K500100BENCH0", empty) && ConnectSqlite(dir, "K500100BENCH1", full) &&
           Measure("SQLite", empty, full, options, false);
}

std::string ClusterValue(const fs::path& env, const std::string& key) {
    std::ifstream in(env);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return {};
}

bool ConnectPostgres(WorkArea& admin, const std::string& server, const std::string& database, WorkArea& work) {
    if (!Exec(admin, "CREATE DATABASE " + database + " ENCODING 'UTF8' TEMPLATE template0")) return false;
    std::string error;
    work.Db = DbSession::Open(server + "DATABASE=" + database + ";", "BENCH", error);
    if (work.Db) return true;
    std::cerr << "history_bench: " << error << "\n";
    return false;
}

bool RunPostgres(const Options& options) {
    const fs::path state = options.dir / "pg";
    const std::string script = std::string("'") + K500100_PG_SCRIPT + "' ";
    if (std::system((script + "start '" + state.string() + "' >/dev/null").c_str()) != 0) {
        std::cerr << "history_bench: cannot start a PostgreSQL cluster\n";
        return false;
    }
    const std::string server = "DRIVER={PostgreSQL Unicode};SERVER=" + ClusterValue(state / "cluster.env", "PGHOST") +
                               ";PORT=" + ClusterValue(state / "cluster.env", "PGPORT") + ";UID=postgres;PWD=;";
    bool ok = false;
    {
        WorkArea admin;
        std::string error;
        admin.Db = DbSession::Open(server + "DATABASE=postgres;", "bench-admin", error);
        WorkArea empty;
        WorkArea full;
        empty.Log.file = full.Log.file = state / "ERR.LOG";
        if (!admin.Db) {
            std::cerr << "history_bench: " << error << "\n";
        } else {
            ok = ConnectPostgres(admin, server, "k500100bench_empty", empty) &&
                 ConnectPostgres(admin, server, "k500100bench_full", full) &&
                 Measure("PostgreSQL", empty, full, options, true);
        }
    }
    std::system((script + "stop '" + state.string() + "' >/dev/null").c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--rows" && has_value) {
            options.rows = std::atol(argv[++i]);
        } else if (arg == "--jobs" && has_value) {
            options.jobs = std::atoi(argv[++i]);
        } else if (arg == "--rounds" && has_value) {
            options.rounds = std::atoi(argv[++i]);
        } else if (arg == "--backend" && has_value) {
            const std::string backend = argv[++i];
            options.sqlite = backend != "postgres";
            options.postgres = backend != "sqlite";
        } else if (arg == "--dir" && has_value) {
            options.dir = argv[++i];
        } else if (arg == "--keep") {
            options.keep = true;
        } else {
            std::cerr << "usage: history_bench [--rows N] [--jobs N] [--rounds N] [--backend sqlite|postgres|both] "
                         "[--dir DIR] [--keep]\n";
            return 2;
        }
    }
    if (options.rows < 4 || options.jobs < 1 || options.rounds < 1) {
        std::cerr << "history_bench: --rows must be at least 4, --jobs and --rounds at least 1\n";
        return 2;
    }
    fs::create_directories(options.dir);
    std::printf("%d jobs per round, median of %d rounds\n%-10s %12s %10s\n", options.jobs, options.rounds, "backend",
                "history rows", "ms per job");
    bool ok = true;
    if (options.sqlite) ok = RunSqlite(options) && ok;
    if (options.postgres) ok = RunPostgres(options) && ok;
    if (!options.keep) fs::remove_all(options.dir);
    return ok ? 0 : 1;
}
