// ediconv: the local/CII and XML/CII converters from the command line, for operators and support staff.
//   ediconv local2cii --ini EDI_INI [--serial N] [--log-dir DIR] LOCAL_FILE CII_FILE
//   ediconv cii2local --ini EDI_INI [--serial N] [--log-dir DIR] CII_FILE LOCAL_TEMPLATE
//   ediconv xml2cii --ini EDI_INI [--serial N] [--log-dir DIR] XML_FILE CII_FILE   (appends to CII_FILE)
//   ediconv cii2xml --ini EDI_INI [--serial N] [--log-dir DIR] CII_FILE XML_FILE   (replaces XML_FILE)
//   ediconv dump [--ini EDI_INI] CII_FILE
// Exit status 0 for the result "0000", 1 for any other result (printed), 2 when the command
// cannot run (an unknown option, a missing file, an unreachable database).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

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
    " | ediconv dump [--ini EDI_INI] CII_FILE";

struct Arguments {
    std::string command;
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
        a.command != "dump") {
        return "unknown command " + a.command;
    }
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--ini" && has_value) {
            a.ini = argv[++i];
        } else if (arg == "--serial" && has_value && a.command != "dump") {
            char* end = nullptr;
            a.serial = std::strtoll(argv[++i], &end, 10);
            if (end == argv[i] || *end != '\0' || a.serial < 0) return "--serial needs a number";
        } else if (arg == "--log-dir" && has_value && a.command != "dump") {
            a.log_dir = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + arg;
        } else {
            a.files.push_back(arg);
        }
    }
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

}  // namespace

int main(int argc, char** argv) {
    Arguments a;
    if (const std::string error = Parse(argc, argv, a); !error.empty()) return Fail(error + " (" + kUsage + ")");
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
