// Throughput of the two CII converters on a generated file, beside a plain copy of the same file,
// and of the integrity check a received file passes before its conversion.
//   cii_bench [--mb N] [--repeat R] [--dir DIR] [--keep]
//                                             time local2cii, the check and cii2local on an N MB
//                                             CII file, best of R runs each (default 200 MB, 3 runs)
//   cii_bench --dir DIR --phase 1|2|check     one conversion (or check) of a kept run's files
//   cii_bench --seeds DIR                     write small CII files to start the fuzz target from
// Each phase runs in a child process so that its peak resident memory is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

#include "BenchSupport.h"
#include "CiiBenchMaster.h"
#include "convert/CiiCheck.h"
#include "convert/LocalCiiConversion.h"

namespace fs = std::filesystem;
using namespace edi;

namespace {

using bench::Phase;
using bench::RunChild;
using bench::StillClock;

bool CopyFile(const fs::path& from, const fs::path& to) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    std::FILE* out = std::fopen(to.c_str(), "wb");
    bool ok = in != nullptr && out != nullptr;
    static char buffer[64 * 1024];
    while (ok) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, in);
        if (n == 0) break;
        ok = std::fwrite(buffer, 1, n, out) == n;
    }
    if (in != nullptr) std::fclose(in);
    if (out != nullptr) ok = std::fclose(out) == 0 && ok;
    return ok;
}

bool SameFiles(const fs::path& a, const fs::path& b) {
    std::ifstream x(a, std::ios::binary);
    std::ifstream y(b, std::ios::binary);
    static char bx[64 * 1024];
    static char by[64 * 1024];
    for (;;) {
        x.read(bx, sizeof bx);
        y.read(by, sizeof by);
        if (x.gcount() != y.gcount() || std::memcmp(bx, by, static_cast<std::size_t>(x.gcount())) != 0) return false;
        if (x.gcount() == 0) return true;
    }
}

std::string Convert(std::string_view kind, const fs::path& in, const fs::path& out, const fs::path& dir) {
    MemoryMasters masters;
    bench::AddBenchMasters(masters);
    ConversionLog log;
    log.file = dir / "ERR.LOG";
    const StillClock clock;
    return RunLocalCiiConversion("BENCH", 1, kind, in, out, masters, log, clock);
}

// The check as a job runs it on its received file: every check fails the file.
bool Check(const fs::path& cii, const fs::path& dir) {
    ConversionLog log;
    log.file = dir / "ERR.LOG";
    const StillClock clock;
    return CheckReceivedCii(cii, 1, CiiCheckPolicy{}, log, clock).Sound();
}

void WriteLines(const fs::path& path, std::size_t count, unsigned seed) {
    bench::BenchLineMaker maker(seed);
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 0; i < count; ++i) out << maker.Line();
}

int WriteSeeds(const fs::path& dir) {
    fs::create_directories(dir);
    const fs::path local = dir / "seed.txt";
    int n = 0;
    for (const std::string mode : {" ", "M", "S"}) {
        WriteLines(local, 3, static_cast<unsigned>(n + 1));
        MemoryMasters masters;
        bench::AddBenchMasters(masters, mode);
        ConversionLog log;
        log.file = dir / "ERR.LOG";
        const StillClock clock;
        const fs::path cii = dir / ("seed-" + std::to_string(++n) + ".cii");
        fs::remove(cii);
        if (RunLocalCiiConversion("SEED", 1, "1", local, cii, masters, log, clock) != "0000") return 1;
    }
    fs::remove(local);
    fs::remove(dir / "ERR.LOG");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    double megabytes = 200;
    fs::path dir = fs::temp_directory_path() / ("cii-bench-" + std::to_string(getpid()));
    bool keep = false;
    int repeat = 3;
    std::string phase;  // one conversion on the files a --keep run left in --dir (for profiling)
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--mb" && i + 1 < argc) {
            megabytes = std::atof(argv[++i]);
        } else if (arg == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (arg == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--keep") {
            keep = true;
        } else if (arg == "--phase" && i + 1 < argc) {
            phase = argv[++i];
        } else if (arg == "--seeds" && i + 1 < argc) {
            return WriteSeeds(argv[++i]);
        } else {
            std::cerr << "usage: cii_bench [--mb N] [--repeat R] [--dir DIR] [--keep] | --phase 1|2|check | --seeds DIR\n";
            return 2;
        }
    }
    if (phase == "check") return Check(dir / "orders.CII", dir) ? 0 : 1;
    if (!phase.empty()) {
        fs::remove(dir / (phase == "1" ? "orders.CII" : "back0130.txt"));
        return Convert(phase, dir / (phase == "1" ? "orders.txt" : "orders.CII"),
                       dir / (phase == "1" ? "orders.CII" : "back.txt"), dir) == "0000"
                   ? 0
                   : 1;
    }
    fs::create_directories(dir);
    const fs::path local = dir / "orders.txt";
    const fs::path cii = dir / "orders.CII";
    const fs::path back_template = dir / "back.txt";
    const fs::path back = dir / ("back" + std::string(bench::kKind) + ".txt");
    const fs::path copy = dir / "copy.CII";

    // Size the local file from a sample so that its CII comes to the requested size.
    const std::size_t sample_lines = 500;
    WriteLines(local, sample_lines, 7);
    fs::remove(cii);
    if (Convert("1", local, cii, dir) != "0000") return 1;
    const double per_line = static_cast<double>(fs::file_size(cii) - 2 * 251) / sample_lines;
    const auto lines = static_cast<std::size_t>(megabytes * 1024 * 1024 / per_line);
    WriteLines(local, lines, 11);
    for (const fs::path& p : {cii, back, copy}) fs::remove(p);

    // Each phase runs `repeat` times (the machine is shared): the best time, the highest peak.
    auto best = [repeat](const std::function<void()>& prepare, const std::function<bool()>& work) {
        Phase result;
        for (int n = 0; n < repeat; ++n) {
            prepare();
            const Phase p = RunChild(work);
            if (n == 0 || p.seconds < result.seconds) result.seconds = p.seconds;
            result.peak_kib = std::max(result.peak_kib, p.peak_kib);
            result.ok = (n == 0 || result.ok) && p.ok;
        }
        return result;
    };
    const Phase to_cii = best([&] { fs::remove(cii); }, [&] { return Convert("1", local, cii, dir) == "0000"; });
    const Phase copy_phase = best([&] { fs::remove(copy); }, [&] { return CopyFile(cii, copy); });
    const Phase check = best([] {}, [&] { return Check(cii, dir); });
    const Phase to_local =
        best([&] { fs::remove(back); }, [&] { return Convert("2", cii, back_template, dir) == "0000"; });
    const bool same = to_local.ok && SameFiles(local, back);

    const double local_mb = static_cast<double>(fs::file_size(local)) / (1024 * 1024);
    const double cii_mb = static_cast<double>(fs::file_size(cii)) / (1024 * 1024);
    std::printf("messages: %zu   local file: %.1f MB   CII file: %.1f MB\n", lines, local_mb, cii_mb);
    std::printf("%-10s %8s %10s %10s %12s %9s\n", "phase", "seconds", "CII MB/s", "local MB/s", "peak memory",
                "vs copy");
    auto row = [&](const char* name, const Phase& p) {
        std::printf("%-10s %8.3f %10.1f %10.1f %9.1f MB %8.1fx%s\n", name, p.seconds, cii_mb / p.seconds,
                    local_mb / p.seconds, static_cast<double>(p.peak_kib) / 1024, p.seconds / copy_phase.seconds,
                    p.ok ? "" : "  FAILED");
    };
    row("copy CII", copy_phase);
    row("local2cii", to_cii);
    row("check", check);
    row("cii2local", to_local);
    std::printf("the check adds %.1f %% to cii2local\n", 100 * check.seconds / to_local.seconds);
    std::printf("round trip: %s\n", same ? "local file read back identical" : "DIFFERENT");
    if (!keep) fs::remove_all(dir);
    return to_cii.ok && check.ok && to_local.ok && copy_phase.ok && same ? 0 : 1;
}
