// k500100-batch: the receive jobs of every center of this terminal, without the window.
// Usage: k500100-batch [--carry-on SERIAL] [OPERATOR-CODE] | --help | -h | --version
// Reads EDI.ini (two folder levels above the program, or K500100_INI), connects to the
// database, takes the terminal's lock, carries on the jobs an earlier run left unfinished,
// runs the job of every center once in grid order (a mail center's again while partner mails
// wait) and prints one line per center with its three status cells. With --carry-on, runs no
// center's job but converts and registers again the received file of that failed job.
// Exit status: 0 every job ended well; 1 some job did not (one line per job on stderr);
// 2 could not start; 3 another run of this terminal holds the lock; 4 stopped by SIGTERM or
// SIGINT after the job in hand; 5 the history could not be read or written (busy, lost or
// refusing database): the run stopped and took no further file.
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>

#include "convert/codec/Codec.h"
#include "startup/CenterList.h"
#include "startup/Clock.h"
#include "startup/DbSession.h"
#include "startup/MessageBox.h"
#include "startup/Settings.h"
#include "startup/SystemProfile.h"
#include "transfer/ConsoleDisplay.h"
#include "transfer/JobRunner.h"
#include "transfer/ProgramConverters.h"
#include "transfer/ProgressView.h"
#include "transfer/ReceiveRun.h"
#include "transfer/StopSignals.h"

namespace {

constexpr int kAllWell = 0;
constexpr int kSomeJobFailed = 1;
constexpr int kCannotStart = 2;
constexpr int kLockHeld = 3;
constexpr int kStopped = 4;
constexpr int kDatabaseFailed = 5;

constexpr const char* kUsage =
    "Usage: k500100-batch [OPERATOR-CODE]\n"
    "       k500100-batch --carry-on SERIAL [OPERATOR-CODE]\n"
    "       k500100-batch --help | -h | --version\n"
    "Runs the receive job of every EDI center of this terminal once: receive, convert, register.\n"
    "Jobs an earlier run left unfinished are carried on first. EDI.ini is read from two folder\n"
    "levels above the program, or from the file K500100_INI names.\n"
    "--carry-on SERIAL: instead of the centers' jobs, a new job converts and registers again the\n"
    "file that the failed job SERIAL received (once its cause is fixed); exit status 2 when that\n"
    "job cannot be carried on (one line on stderr says why).\n"
    "Exit status: 0 every job ended well; 1 some job did not (one line per job on stderr);\n"
    "2 could not start; 3 another run of this terminal holds the lock; 4 stopped by SIGTERM or\n"
    "SIGINT once the job in hand had finished; 5 the database failed (busy, lost or refusing):\n"
    "the run stopped, took no further file, and the next run carries on the job left open.\n";

// Messages go to the error stream; a question is answered No, so nothing ends unasked.
class ConsoleMessageBoxes final : public edi::MessageBoxes {
public:
    edi::MessageAnswer Show(const edi::MessageRequest& request) override {
        std::cerr << "k500100-batch: " << request.text << "\n";
        return request.buttons == edi::MessageButtons::kYesNo ? edi::MessageAnswer::kNo : edi::MessageAnswer::kOk;
    }
};

// Keeps the message a start-up step shows, for the one start-up line.
class StartupMessage final : public edi::MessageBoxes {
public:
    edi::MessageAnswer Show(const edi::MessageRequest& request) override {
        text = request.text;
        return edi::MessageAnswer::kOk;
    }
    std::string text;
};

// Progress lines are for a terminal; elsewhere they go nowhere.
class NullBuffer final : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

// The start-up message names what the start-up read, so a cron mail tells where to look.
int CannotStart(edi::WorkArea& work, const char* message) {
    const auto ini = edi::LocateIni(work);
    std::cerr << "k500100-batch: " << message << " (EDI.ini: " << (ini ? ini->string() : std::string("not found"))
              << ", data source: " << edi::TrimBlanks(work.DbSource) << ")\n";
    return kCannotStart;
}

// The job serial of --carry-on: 1 to 2147483647 in decimal.
std::optional<std::int32_t> SerialArgument(const std::string& text) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return {};
    const long long serial = std::stoll(text);
    if (serial < 1 || serial > 2147483647) return {};
    return static_cast<std::int32_t>(serial);
}

}  // namespace

int main(int argc, char** argv) {
    std::string line;
    std::optional<std::int32_t> carry_on;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return kAllWell;
        }
        if (argument == "--version") {
            std::cout << "k500100-batch " K500100_VERSION "\n";
            return kAllWell;
        }
        if (argument == "--carry-on" || argument.starts_with("--carry-on=")) {
            const std::string value = argument.size() > 10 ? argument.substr(11) : (i + 1 < argc ? argv[++i] : "");
            carry_on = SerialArgument(value);
            if (!carry_on) {
                std::cerr << "k500100-batch: --carry-on needs a job serial, not \"" << value << "\"\n";
                return kCannotStart;
            }
            continue;
        }
        line += (line.empty() ? "" : " ") + argument;
    }
    const std::string operator_code = edi::TrimBlanks(line);
    if (!operator_code.empty() && operator_code.front() == '-') {
        std::cerr << "k500100-batch: unknown option " << operator_code
                  << " (an operator code never starts with \"-\"); see k500100-batch --help\n";
        return kCannotStart;
    }

    std::atomic<bool> stop{false};
    edi::InstallStopSignals(stop);

    edi::WorkArea work;
    edi::LocateProgram(work);
    ConsoleMessageBoxes boxes;
    const edi::SystemClock clock;
    const edi::cProfile profile;

    if (!edi::ReadRunEnvironment(work)) return CannotStart(work, edi::kIniReadError);
    work.TerminalName = profile.machine();
    std::string reason;
    if (!edi::ConnectDatabase(work, reason)) {
        const int status = CannotStart(work, "接続エラー");
        std::cerr << "k500100-batch: " << reason << "\n";
        return status;
    }
    if (!edi::ReadSettings(work)) return CannotStart(work, edi::kIniReadError);
    edi::ReadStatusColors(work);
    StartupMessage centers_message;
    if (edi::LoadCenters(work, centers_message) != "0000") {
        // The fixed message, then the database's reason when it failed (busy, lost, refused).
        const int status = CannotStart(work, centers_message.text.c_str());
        if (!work.Db->LastReport().empty()) std::cerr << "k500100-batch: " << work.Db->LastReport() << "\n";
        return status;
    }
    // Every database failure's ERR.LOG line is shown on the error stream too.
    work.Db->SetReportEcho([](const std::string& line) { std::cerr << "k500100-batch: " << line << "\n"; });
    work.OperatorCode = operator_code;
    work.RunState = 0;

    std::cout << "terminal " << work.TerminalName << ", operator " << work.OperatorCode << ", " << work.Centers.size()
              << " center(s)\n";
    NullBuffer nowhere;
    std::ostream quiet(&nowhere);
    std::ostream& progress_out = ::isatty(STDOUT_FILENO) ? std::cout : quiet;
    edi::ConsoleProgress progress(progress_out);
    edi::ConsoleDisplay display(progress_out, work);
    edi::ProgramConverters converters;
    edi::SpawnProcessStarter starter(work.EDIINFIL);
    edi::JobRunner runner(work, clock, boxes, progress, display, converters, starter);
    edi::ReceiveRun run(work, runner, stop);
    const edi::RunReport report = carry_on ? run.CarryOn(*carry_on) : run.Run(edi::MarkedRows(work));

    if (report.end == edi::RunEnd::kLocked) {
        std::cerr << "k500100-batch: " << report.reason << "; nothing was run\n";
        return kLockHeld;
    }
    if (report.end == edi::RunEnd::kLockFailed) return CannotStart(work, report.reason.c_str());
    if (report.end == edi::RunEnd::kRefused) {
        std::cerr << "k500100-batch: " << report.reason << "\n";
        return kCannotStart;
    }

    std::cout << "センターコード\tセンター名\t受信\t変換\tデータ登録\n";
    for (const edi::CenterEntry& entry : work.Centers) std::cout << edi::CenterStatusLine(entry) << "\n";
    for (const edi::JobReport& job : report.jobs) {
        const std::string name = job.center_code + " (job " + std::to_string(job.serial) + ")";
        if (job.carried_on) std::cout << "carried on " << name << ": " << edi::OutcomeText(job.outcome) << "\n";
        if (job.takes_over != 0) {
            std::cout << "job " << job.takes_over << " carried on as " << name << ": " << edi::OutcomeText(job.outcome)
                      << "\n";
        }
        if (!job.outcome.ok()) std::cerr << "k500100-batch: " << name << ": " << edi::OutcomeText(job.outcome) << "\n";
    }
    std::cout << std::flush;
    if (report.end == edi::RunEnd::kHistoryFailed) {
        std::cerr << "k500100-batch: " << report.reason << "; no further file was taken\n";
        return kDatabaseFailed;
    }
    if (report.end == edi::RunEnd::kStopped) {
        std::cerr << "k500100-batch: stopped by signal " << edi::StopSignalNumber()
                  << " after the job in hand; the centers after it did not run\n";
        return kStopped;
    }
    return report.all_well() ? kAllWell : kSomeJobFailed;
}
