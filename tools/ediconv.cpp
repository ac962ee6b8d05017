// ediconv: the local/CII and XML/CII converters from the command line, for operators and support staff.
//   ediconv local2cii --ini EDI_INI [--serial N] [--log-dir DIR] LOCAL_FILE CII_FILE
//   ediconv cii2local --ini EDI_INI [--serial N] [--log-dir DIR] CII_FILE LOCAL_TEMPLATE
//   ediconv xml2cii --ini EDI_INI [--serial N] [--log-dir DIR] XML_FILE CII_FILE   (appends to CII_FILE)
//   ediconv cii2xml --ini EDI_INI [--serial N] [--log-dir DIR] CII_FILE XML_FILE   (replaces XML_FILE)
//   ediconv dump [--ini EDI_INI] CII_FILE
//   ediconv check [-q] CII_FILE...                  the integrity check of received CII files
//   ediconv --help | --version
// Exit status 0 for the result "0000" (check: every file sound), 1 for any other result
// (printed; check: a file with a fault), 2 when the command cannot run (an unknown option, a
// missing file, an unreachable database).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "convert/CiiCheck.h"
#include "convert/CiiDump.h"
#include "convert/LocalCiiConversion.h"
#include "convert/XmlCii.h"
#include "startup/DbSession.h"
#include "startup/Settings.h"

namespace {

namespace fs = std::filesystem;

int Fail(const std::string& message) {
    std::cerr << "ediconv: " << message << "\n";
    return 2;
}

constexpr const char* kUsage =
    "usage: ediconv local2cii|cii2local|xml2cii|cii2xml --ini EDI_INI [--serial N] [--log-dir DIR] INPUT OUTPUT"
    " | ediconv dump [--ini EDI_INI] CII_FILE | ediconv check [-q] CII_FILE... | ediconv --help | --version";

constexpr const char* kHelp =
    "Usage: ediconv local2cii --ini EDI_INI [--serial N] [--log-dir DIR] LOCAL_FILE CII_FILE\n"
    "       ediconv cii2local --ini EDI_INI [--serial N] [--log-dir DIR] CII_FILE LOCAL_TEMPLATE\n"
    "       ediconv xml2cii --ini EDI_INI [--serial N] [--log-dir DIR] XML_FILE CII_FILE\n"
    "       ediconv cii2xml --ini EDI_INI [--serial N] [--log-dir DIR] CII_FILE XML_FILE\n"
    "       ediconv dump [--ini EDI_INI] CII_FILE\n"
    "       ediconv check [-q] CII_FILE...\n"
    "       ediconv --help | --version\n"
    "Converts local records, CII files and their XML form with the masters of the database that\n"
    "EDI_INI names; reports go to ERR.LOG in --log-dir (default: the program's folder). The result\n"
    "code is printed. dump lists a CII file's records and elements. check reads CII files as a\n"
    "received file is checked before its conversion and prints each group (information kind, BPID,\n"
    "運用モード, storage mode, messages read and the end record's count) and its first fault with\n"
    "its byte offset; -q prints nothing.\n"
    "Exit status: 0 result 0000 (check: every file sound); 1 another result (check: a fault);\n"
    "2 the command cannot run.\n";

struct Arguments {
    std::string command;
    bool quiet = false;
    std::optional<fs::path> ini;
    std::int64_t serial = 0;
    std::optional<fs::path> log_dir;
    std::vector<std::string> files;
};

// An empty text when the arguments are good, else the message.
std::string Parse(int argc, char** argv, Arguments& a) {
    if (argc < 2) return "no command";
    a.command = argv[1];
    if (a.command != "local2cii" && a.command != "cii2local" && a.command != "xml2cii" && a.command != "cii2xml" &&
        a.command != "dump" && a.command != "check") {
        return "unknown command " + a.command;
    }
    const bool check = a.command == "check";
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (check && arg == "-q") {
            a.quiet = true;
        } else if (arg == "--ini" && has_value && !check) {
            a.ini = argv[++i];
        } else if (arg == "--serial" && has_value && a.command != "dump" && !check) {
            char* end = nullptr;
            a.serial = std::strtoll(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || a.serial < 0) return "--serial needs a number";
        } else if (arg == "--log-dir" && has_value && a.command != "dump" && !check) {
            a.log_dir = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + arg;
        } else {
            a.files.push_back(arg);
        }
    }
    if (check) return a.files.empty() ? "expected CII file arguments" : "";
    const std::size_t wanted = a.command == "dump" ? 1 : 2;
    if (a.files.size() != wanted) return "expected " + std::to_string(wanted) + " file arguments";
    if (a.command != "dump" && !a.ini) return "--ini is required";
    return {};
}

// Reads the data source from EDI.ini and connects. An empty text on success.
std::string Connect(edi::WorkArea& work, const fs::path& ini) {
    std::error_code ec;
    if (!fs::is_regular_file(ini, ec)) return "no such file: " + ini.string();
    work.IniOverride = ini;
    if (!edi::ReadRunEnvironment(work)) return "cannot read " + ini.string();
    std::string reason;
    if (!edi::ConnectDatabase(work, reason)) return reason;
    return {};
}

// One file's groups and faults on standard output (nothing with -q, which stops at the first
// fault); true when the file is sound.
bool CheckFile(const fs::path& path, bool quiet, bool& readable) {
    edi::ChunkedInput in;
    std::string error;
    readable = in.Open(path, error);
    if (!readable) {
        std::cerr << "ediconv: " << error << "\n";
        return false;
    }
    std::uintmax_t total = 0;
    std::error_code ec;
    total = fs::file_size(path, ec);
    const bool terminal = isatty(STDERR_FILENO) == 1 && !ec && total > 0;
    if (terminal) {
        in.SetProgress([total](std::uint64_t done) {
            std::fprintf(stderr, "\r%3d%%", static_cast<int>(done * 100 / total));
        });
    }
    std::optional<edi::CiiFault> first;
    edi::CiiCheckListener listener;
    listener.fault = [&](const edi::CiiFault& fault) {
        if (!first) first = fault;
        // A fault inside a group is shown under the group's line.
        if (!quiet && !fault.in_group) {
            std::cout << "  " << edi::FormatCode(edi::CiiCheckCode(fault.check)) << " " << edi::DescribeFault(fault)
                      << "\n";
        }
        return !quiet;
    };
    listener.group = [&](const edi::CiiGroupCheck& g) {
        if (quiet) return;
        std::cout << "  group " << g.number << " at byte " << g.offset << ": kind " << g.info_kind << ", BPID "
                  << g.bpid << ", 運用モード " << edi::QuotedBytes(edi::ByteView(&g.operation_mode, 1))
                  << (g.IsTest() ? " (test)" : "") << ", storage mode "
                  << edi::QuotedBytes(edi::ByteView(&g.storage_mode, 1)) << ", " << g.messages << " messages read, "
                  << (g.end_count ? "the end record counts " + std::to_string(*g.end_count) : "no count") << "\n";
        if (g.first_fault) {
            std::cout << "    " << edi::FormatCode(edi::CiiCheckCode(g.first_fault->check)) << " byte "
                      << g.first_fault->offset << ": " << g.first_fault->text << "\n";
        }
    };
    if (!quiet) std::cout << path.string() << "\n";
    const edi::CiiCheckTotals totals = edi::CheckCii(in, listener);
    if (terminal) std::fprintf(stderr, "\r    \r");
    if (totals.read_failed) {
        std::cerr << "ediconv: cannot read " << path.string() << "\n";
        readable = false;
        return false;
    }
    if (!quiet) {
        if (first) {
            std::cout << "  damaged: first fault " << edi::FormatCode(edi::CiiCheckCode(first->check)) << " at byte "
                      << first->offset << "\n";
        } else {
            std::cout << "  sound: " << totals.groups << " groups, " << totals.messages << " messages ("
                      << totals.test_messages << " test)\n";
        }
    }
    return !first;
}

int Check(const Arguments& a) {
    std::error_code ec;
    for (const std::string& file : a.files) {
        if (!fs::is_regular_file(file, ec)) return Fail("no such file: " + file);
    }
    bool sound = true;
    for (const std::string& file : a.files) {
        bool readable = true;
        if (!CheckFile(file, a.quiet, readable)) sound = false;
        if (!readable) return 2;
    }
    std::cout.flush();
    return sound ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kHelp;
            return 0;
        }
        if (arg == "--version") {
            std::cout << "ediconv " K500100_VERSION "\n";
            return 0;
        }
    }
    Arguments a;
    if (const std::string error = Parse(argc, argv, a); !error.empty()) return Fail(error + " (" + kUsage + ")");
    if (a.command == "check") return Check(a);
    std::error_code ec;
    const fs::path input = a.files[0];
    if (!fs::is_regular_file(input, ec)) return Fail("no such file: " + input.string());

    edi::WorkArea work;
    edi::LocateProgram(work);
    work.TerminalName = "ediconv";

    if (a.command == "dump") {
        std::optional<edi::DatabaseMasters> masters;
        if (a.ini) {
            if (const std::string error = Connect(work, *a.ini); !error.empty()) return Fail(error);
            masters.emplace(work);
        }
        edi::ChunkedInput in;
        std::string error;
        if (!in.Open(input, error)) return Fail(error);
        const bool whole = edi::DumpCii(in, masters ? &*masters : nullptr, std::cout);
        std::cout.flush();
        return whole ? 0 : 1;
    }

    const fs::path output = a.files[1];
    const fs::path log_dir = a.log_dir ? *a.log_dir : work.ProgramFolder;
    if (!fs::is_directory(log_dir, ec)) return Fail("no such folder: " + log_dir.string());
    if (const std::string error = Connect(work, *a.ini); !error.empty()) return Fail(error);
    work.Log.file = log_dir / "ERR.LOG";

    if (a.command == "xml2cii" || a.command == "cii2xml") {
        // The XML/CII converter reports through ERR.LOG and ErrorCode only: a clean run is "0000".
        if (a.serial > 99999999) return Fail("--serial takes at most eight digits");
        work.Log.ErrorCode.clear();
        edi::XmlCiiState state;
        edi::XmlCiiConvert(work, state, input, output, static_cast<std::int32_t>(a.serial),
                           a.command == "xml2cii" ? edi::XmlCiiDirection::kXmlToCii : edi::XmlCiiDirection::kCiiToXml);
        const std::string result = work.Log.ErrorCode.empty() ? "0000" : work.Log.ErrorCode;
        std::cout << result << "\n";
        return result == "0000" ? 0 : 1;
    }

    edi::LocalCiiOptions options;
    std::uintmax_t total = fs::file_size(input, ec);
    if (ec) total = 0;
    const bool terminal = isatty(STDERR_FILENO) == 1;
    if (terminal && total > 0) {
        options.progress = [total](std::uint64_t done) {
            std::fprintf(stderr, "\r%3d%%", static_cast<int>(done * 100 / total));
        };
    }
    std::string result;
    edi::RunLocalCiiConversion(work, "", a.serial, a.command == "local2cii" ? edi::kLocalToCii : edi::kCiiToLocal,
                               input, output, result, options);
    if (terminal && total > 0) std::fprintf(stderr, "\r    \r");
    std::cout << result << "\n";
    return result == "0000" ? 0 : 1;
}
