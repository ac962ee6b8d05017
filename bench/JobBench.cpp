// job_bench: receive jobs per second of one run over link-package centers with small files, on
// the embedded SQLite database, as k500100-batch runs them (lock, carry-on pass, jobs).
//   job_bench [--centers N] [--records R] [--registration edireg|nothing] [--runs K] [--dir DIR]
// --registration nothing starts /bin/true, which leaves no status file (every registration row
// then records 4100/0002): the floor of a job without the sample program's work. The figure is
// the best of K runs, each on fresh link files in the same database.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "BenchSupport.h"
#include "DemoOrders.h"
#include "convert/LocalCiiConversion.h"
#include "startup/CenterList.h"
#include "startup/DbSession.h"
#include "startup/EmbeddedDatabase.h"
#include "startup/Settings.h"
#include "startup/SqlScript.h"
#include "startup/SystemProfile.h"
#include "transfer/ConsoleDisplay.h"
#include "transfer/ProgramConverters.h"
#include "transfer/ReceiveRun.h"

namespace {

namespace fs = std::filesystem;

struct Options {
    int centers = 100;
    int records = 3;
    std::string registration = "edireg";
    int runs = 3;
    fs::path dir;
};

class NullBuffer final : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Write(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out.flush());
}

bool Fail(const std::string& what) {
    std::cerr << "job_bench: " << what << "\n";
    return false;
}

int Quit(const std::string& what) {
    Fail(what);
    return 1;
}

// A message of the run (there should be none) goes to the error stream.
class ErrorStreamBoxes final : public edi::MessageBoxes {
public:
    edi::MessageAnswer Show(const edi::MessageRequest& request) override {
        std::cerr << "job_bench: " << request.text << "\n";
        return edi::MessageAnswer::kOk;
    }
};

std::string Code(int i) {
    char code[16];
    std::snprintf(code, sizeof code, "B%03d", i);
    return code;
}

// The database, the centers, EDI.ini and the CII file every center's link package leaves.
bool Prepare(const Options& o, std::string& message) {
    for (const char* folder : {"db", "in", "old", "link", "pr", "st", "out"}) fs::create_directories(o.dir / folder);
    const std::string driver = edi::SqliteDriverReference();
    if (driver.empty()) return Fail("the SQLite3 ODBC driver is not installed");
    if (!Write(o.dir / "db" / "odbc.ini",
               edi::EmbeddedOdbcIni(edi::kEmbeddedDsn, o.dir / "db" / std::string(edi::kEmbeddedFileName), driver))) {
        return Fail("cannot write odbc.ini");
    }
    setenv("ODBCINI", (o.dir / "db" / "odbc.ini").c_str(), 1);
    edi::WorkArea work;
    work.DbSource = std::string(edi::kEmbeddedDsn);
    if (!edi::ConnectDatabase(work)) return Fail("cannot open the database");
    std::string error;
    if (!edi::RunSqlScript(work, ReadAll(K500100_SCHEMA_FILE), error) ||
        !edi::RunSqlScript(work, ReadAll(K500100_DEMO_MASTERS), error)) {
        return Fail(error);
    }
    const std::string terminal = edi::cProfile().machine();
    std::string centers;
    for (int i = 1; i <= o.centers; ++i) {
        centers += "INSERT INTO FL1903EDI制御マスタ (センターコード, 相手先種別, センター名, 送受信方式, 実行端末名, "
                   "TCX受信ファイルパス, 送受信データ形式) VALUES ('" +
                   Code(i) + "', '2', 'bench', 'Z', " + edi::SqlQuote(terminal) + ", " +
                   edi::SqlQuote((o.dir / "link" / (Code(i) + ".CII")).string()) +
                   ", 'C');\nINSERT INTO FL1915センタ利用企業マスタ (センターコード, 相手先企業コード) VALUES ('" +
                   Code(i) + "', 'PARTNER01');\n";
    }
    if (!edi::RunSqlScript(work, centers, error)) return Fail(error);

    std::string records;
    for (int r = 0; r < o.records; ++r) records += edi::bench::DemoOrderRecord(r, "PO00000000001");
    Write(o.dir / "orders.txt", records);
    edi::RunLocalCiiConversion(work, "", 1, edi::kLocalToCii, o.dir / "orders.txt", o.dir / "orders.cii", message);
    if (message != "0000") return Fail("the orders do not convert: " + message);

    const auto folder = [&](const char* name) { return (o.dir / name).string() + "/"; };
    const std::string program = o.registration == "edireg"
                                    ? std::string(K500100_EDIREG_PROGRAM)
                                    : std::string("/bin/true");
    const std::string ini =
        "[動作環境]\r\nDBSTRING=" + std::string(edi::kEmbeddedDsn) +
        "\r\n[Setting0]\r\nLabelBackColor=0\r\nLabelForeColor=0\r\nTextBackColor=0\r\nTextFocusColor=0\r\n"
        "TextForeColor=0\r\nTitleBackColor=0\r\nTitleForeColor=0\r\n[K700100]\r\nMINIMAIZE=0\r\nDEMOMODE=0\r\n"
        "[PATH]\r\nEDIINFIL=" + folder("in") + "\r\nEDIOUTFIL=" + folder("out") + "\r\nMGSTPATH=" + folder("st") +
        "\r\nOLD_FILE=" + folder("old") + "\r\nPRPATH=" + folder("pr") + "\r\nSTPATH=" + folder("st") +
        "\r\nFL1102_FILE=" + folder("in") + "\r\nMGCMDLINEZR=" + program +
        "\r\n[JKBN_Z_J]\r\n0130\r\n\r\n[デバッグ]\r\nMODE=0\r\n";
    const edi::Bytes sjis = edi::ToAnsiBytes(ini);
    Write(o.dir / "EDI.ini", std::string(sjis.begin(), sjis.end()));
    setenv("K500100_INI", (o.dir / "EDI.ini").c_str(), 1);
    return true;
}

bool ParseArguments(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--centers" && has_value) {
            o.centers = std::atoi(argv[++i]);
        } else if (a == "--records" && has_value) {
            o.records = std::atoi(argv[++i]);
        } else if (a == "--registration" && has_value) {
            o.registration = argv[++i];
        } else if (a == "--runs" && has_value) {
            o.runs = std::atoi(argv[++i]);
        } else if (a == "--dir" && has_value) {
            o.dir = argv[++i];
        } else {
            return false;
        }
    }
    return o.centers > 0 && o.centers < 1000 && o.records > 0 && o.runs > 0 &&
           (o.registration == "edireg" || o.registration == "nothing");
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseArguments(argc, argv, o)) {
        std::cerr << "usage: job_bench [--centers N] [--records R] [--registration edireg|nothing] [--runs K] "
                     "[--dir DIR]\n";
        return 2;
    }
    const bool temporary = o.dir.empty();
    if (temporary) {
        char name[] = "/tmp/job-bench-XXXXXX";
        if (::mkdtemp(name) == nullptr) return Quit("cannot create a folder");
        o.dir = name;
    }
    std::string cii_result;
    if (!Prepare(o, cii_result)) return 1;
    const std::string cii = ReadAll(o.dir / "orders.cii");

    edi::WorkArea work;
    edi::LocateProgram(work);
    if (!edi::ReadRunEnvironment(work)) return Quit("cannot read EDI.ini");
    work.TerminalName = edi::cProfile().machine();
    if (!edi::ConnectDatabase(work) || !edi::ReadSettings(work)) return Quit("cannot start");
    ErrorStreamBoxes boxes;
    if (edi::LoadCenters(work, boxes) != "0000") return Quit("no center for this terminal");
    work.OperatorCode = "BENCH";

    NullBuffer nowhere;
    std::ostream quiet(&nowhere);
    edi::ConsoleProgress progress(quiet);
    edi::ConsoleDisplay display(quiet, work);
    edi::ProgramConverters converters;
    edi::SpawnProcessStarter starter(work.EDIINFIL);
    const edi::bench::StillClock clock;
    edi::JobRunner runner(work, clock, boxes, progress, display, converters, starter);
    std::atomic<bool> stop{false};

    double best = 0;
    for (int run = 1; run <= o.runs; ++run) {
        for (int i = 1; i <= o.centers; ++i) Write(o.dir / "link" / (Code(i) + ".CII"), cii);
        for (edi::CenterEntry& entry : work.Centers) entry.RowState = edi::kRowWaiting;
        const auto start = std::chrono::steady_clock::now();
        const edi::RunReport report = edi::ReceiveRun(work, runner, stop).Run(edi::MarkedRows(work));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double rate = static_cast<double>(report.jobs.size()) / seconds;
        std::size_t well = 0;
        for (const edi::JobReport& job : report.jobs) well += job.outcome.ok();
        std::printf("run %d: %zu jobs (%zu ended well) in %.2f s: %.1f jobs/s\n", run, report.jobs.size(), well,
                    seconds, rate);
        if (o.registration == "edireg" && well != report.jobs.size()) return Quit("a job did not end well");
        best = std::max(best, rate);
    }
    std::printf("job_bench: %d centers, %d record(s) per message, registration %s: best %.1f jobs/s\n", o.centers,
                o.records, o.registration.c_str(), best);
    if (temporary) fs::remove_all(o.dir);
    return 0;
}
