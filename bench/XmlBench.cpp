// Throughput of the XML form's two converters on a generated file of the benchmark's message kind,
// beside the time xmllint takes to parse the same file with its streaming reader (the parser floor).
//   xml_bench [--mb N] [--dir DIR] [--keep]
// The XML file is made by cii2xml from a CII file that local2cii writes from generated local lines,
// sized so that the XML comes to about N MB. Each conversion runs in a child process so that its
// peak resident memory is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

#include "BenchSupport.h"
#include "CiiBenchMaster.h"
#include "convert/LocalCiiConversion.h"
#include "convert/XmlCii.h"

namespace fs = std::filesystem;
using namespace edi;

namespace {

using bench::Phase;
using bench::RunChild;
using bench::StillClock;

Phase RunCommand(const std::string& command) {
    return RunChild([&] { return std::system(command.c_str()) == 0; });
}

void WriteLines(const fs::path& path, std::size_t count, unsigned seed) {
    bench::BenchLineMaker maker(seed);
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < count; ++i) out << maker.Line();
}

bool LocalToCii(const fs::path& local, const fs::path& cii, const fs::path& dir) {
    MemoryMasters masters;
    bench::AddBenchMasters(masters, "M");
    ConversionLog log;
    log.file = dir / "ERR.LOG";
    const StillClock clock;
    fs::remove(cii);
    return RunLocalCiiConversion("BENCH", 1, kLocalToCii, local, cii, masters, log, clock) == "0000";
}

bool XmlConvert(const fs::path& in, const fs::path& out, const fs::path& dir) {
    MemoryMasters masters;
    bench::AddBenchMasters(masters, "M");
    ConversionLog log;
    log.file = dir / "ERR.LOG";
    XmlCiiState state;
    fs::remove(out);
    return XmlCiiConvert(in, out, 1, state, masters, log) && log.ErrorCode.empty();
}

}  // namespace

int main(int argc, char** argv) {
    double megabytes = 100;
    fs::path dir = fs::temp_directory_path() / ("xml-bench-" + std::to_string(getpid()));
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--mb" && i + 1 < argc) {
            megabytes = std::atof(argv[++i]);
        } else if (arg == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (arg == "--keep") {
            keep = true;
        } else {
            std::cerr << "usage: xml_bench [--mb N] [--dir DIR] [--keep]\n";
            return 2;
        }
    }
    fs::create_directories(dir);
    const fs::path local = dir / "orders.txt";
    const fs::path cii = dir / "orders.CII";
    const fs::path xml = dir / "orders.xml";
    const fs::path back = dir / "back.CII";

    // Size the local file from a sample so that the XML comes to the requested size.
    const std::size_t sample_lines = 500;
    WriteLines(local, sample_lines, 7);
    if (!LocalToCii(local, cii, dir) || !XmlConvert(cii, xml, dir)) {
        std::cerr << "cannot convert the sample; see " << (dir / "ERR.LOG") << "\n";
        return 1;
    }
    const double per_line = static_cast<double>(fs::file_size(xml)) / sample_lines;
    const auto lines = static_cast<std::size_t>(megabytes * 1024 * 1024 / per_line);
    WriteLines(local, lines, 11);
    if (!LocalToCii(local, cii, dir)) return 1;

    const Phase to_xml = RunChild([&] { return XmlConvert(cii, xml, dir); });
    const Phase lint = RunCommand("xmllint --stream --noout '" + xml.string() + "'");
    const Phase to_cii = RunChild([&] { return XmlConvert(xml, back, dir); });

    const double xml_mb = static_cast<double>(fs::file_size(xml)) / (1024 * 1024);
    const double cii_mb = static_cast<double>(fs::file_size(cii)) / (1024 * 1024);
    std::printf("messages: %zu   XML file: %.1f MB   CII file: %.1f MB\n", lines, xml_mb, cii_mb);
    std::printf("%-22s %8s %10s %12s %12s\n", "phase", "seconds", "XML MB/s", "peak memory", "vs xmllint");
    auto row = [&](const char* name, const Phase& p) {
        std::printf("%-22s %8.3f %10.1f %9.1f MB %11.2fx%s\n", name, p.seconds, xml_mb / p.seconds,
                    static_cast<double>(p.peak_kib) / 1024, p.seconds / lint.seconds, p.ok ? "" : "  FAILED");
    };
    row("xmllint --stream", lint);
    row("xml2cii", to_cii);
    row("cii2xml", to_xml);
    std::printf("targets: xml2cii <= 1.25x xmllint: %s   cii2xml >= 30 MB/s: %s   xml2cii peak < 64 MB: %s\n",
                to_cii.seconds <= 1.25 * lint.seconds ? "met" : "MISSED", xml_mb / to_xml.seconds >= 30 ? "met" : "MISSED",
                to_cii.peak_kib < 64 * 1024 ? "met" : "MISSED");
    if (!keep) fs::remove_all(dir);
    return to_xml.ok && lint.ok && to_cii.ok ? 0 : 1;
}
