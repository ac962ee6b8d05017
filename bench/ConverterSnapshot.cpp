// Every output of the four converters on a fixed corpus, for checking that a change to the
// converters' internals changes no byte: run it before and after and compare the directories.
//   converter_snapshot write DIR [FUZZ_DATA_DIR]
//       generated local files for several masters (every attribute pair, nested groups, two-byte
//       tags, long elements, every storage mode, double-byte codes M/S/U, XML encodings
//       Shift_JIS/UTF-16/ISO-2022-JP), each through local2cii, cii2local, cii2xml and xml2cii;
//       damaged copies of the CII and XML files; the fuzz seeds. Every output and ERR.LOG kept.
//   converter_snapshot run local2cii|cii2local|xml2cii|cii2xml IN OUT [MODE]
//       one conversion with the benchmark's masters (for profiling); MODE is the storage mode.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "CiiBenchMaster.h"
#include "RoundTripMasters.h"
#include "convert/CiiToLocal.h"
#include "convert/LocalToCii.h"
#include "convert/XmlCii.h"

namespace fs = std::filesystem;
using namespace edi;

namespace {

using bench::Field;

// Attribute pairs that differ between the sides, decimals on one side only, and pairs no edit knows.
const std::vector<Field> kPairs = {
    {1, 0, 1, 1, "9", 8, 2, "0", 0, 9, 0, "N"},
    {2, 0, 2, 10, "N", 6, 0, "0", 0, 6, 2, "9"},
    {3, 0, 3, 16, "9", 7, 0, "0", 0, 5, 2, "9"},
    {4, 0, 4, 23, "N", 5, 1, "0", 0, 7, -1, "N"},
    {5, 0, 5, 30, "Y", 8, 0, "0", 0, 6, -1, "9"},
    {6, 0, 6, 38, "9", 6, 0, "0", 0, 8, -1, "Y"},
    {7, 0, 7, 44, "Y", 6, 0, "0", 0, 6, -1, "Y"},
    {8, 0, 8, 50, "X", 6, 0, "0", 0, -1, -1, "K"},
    {9, 0, 9, 56, "K", 6, 0, "0", 0, -1, -1, "X"},
    {10, 0, 10, 62, "9", 4, 0, "0", 0, -1, -1, "X"},
    {11, 0, 11, 66, "B", 5},
    {12, 0, 12, 71, "X ", 3, 0, "0", 0, -1, -1, "X"},
    {13, 0, 13, 74, "N", 9, 3, "0", 0, 4, 1, "N"},
    {14, 0, 14, 84, "9", 3, 0, "0", 0, 3, -1, "9"},
    {15, 0, 15, 87, "K", 8},
    {16, 0, 16, 95, "X", 12},
};

// The two-byte master and a "B" item with the one-byte tag 239.
std::vector<Field> TwoByteAndBinary() {
    std::vector<Field> out = bench::kTwoByte;
    out.push_back({9, 0, 239, 69, "B", 4});
    return out;
}

std::vector<Field> BenchFields() {
    std::vector<Field> out;
    for (const bench::BenchItem& i : bench::kItems) {
        out.push_back(Field{i.serial, i.level, i.tag, i.position, i.attribute, i.length, i.decimals, i.multi, i.repeat,
                            i.message_length});
    }
    return out;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Damage: flipped, dropped and inserted bytes, or the file cut short.
std::string Damaged(std::string bytes, std::mt19937& rng) {
    if (bytes.empty()) return bytes;
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    const int edits = static_cast<int>(pick(6)) + 1;
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
        const std::size_t at = pick(bytes.size());
        switch (pick(5)) {
            case 0:
                bytes[at] = static_cast<char>(pick(256));
                break;
            case 1:
                bytes.erase(at, 1 + pick(4));
                break;
            case 2:
                bytes.insert(at, 1, static_cast<char>(0xF0 + pick(16)));
                break;
            case 3:
                bytes[at] = static_cast<char>(bytes[at] ^ (1 << pick(8)));
                break;
            default:
                bytes.resize(at);
                break;
        }
    }
    return bytes;
}

// Text values of an XML document replaced by junk, markup left whole.
std::string DamagedValues(std::string xml, std::mt19937& rng) {
    static const std::vector<std::string> kJunk = {"",    "-0012.50", "abc",   " 1 2 ", "0",        "20000000",
                                                   "5A0", "GG",       "&amp;", "12e3",  "&#x2460;", "\xE3\x80\x80"};
    std::string out;
    std::size_t i = 0;
    while (i < xml.size()) {
        const std::size_t open = xml.find("<JP", i);
        if (open == std::string::npos) break;
        const std::size_t gt = xml.find('>', open);
        const std::size_t lt = gt == std::string::npos ? std::string::npos : xml.find('<', gt);
        if (lt == std::string::npos) break;
        out.append(xml, i, gt + 1 - i);
        if (lt > gt + 1 && std::uniform_int_distribution<int>(0, 9)(rng) == 0) {
            out += kJunk[std::uniform_int_distribution<std::size_t>(0, kJunk.size() - 1)(rng)];
        } else {
            out.append(xml, gt + 1, lt - gt - 1);
        }
        i = lt;
    }
    out.append(xml, i, std::string::npos);
    return out;
}

class Snapshot {
public:
    explicit Snapshot(fs::path dir) : dir_(std::move(dir)) { fs::create_directories(dir_); }

    ConversionLog Log(const std::string& name) {
        ConversionLog log;
        log.file = dir_ / (name + ".log");
        fs::remove(log.file);
        return log;
    }
    fs::path Path(const std::string& name) const { return dir_ / name; }

    void LocalToCii(const std::string& name, const fs::path& local, FormatMasterSource& m) {
        ConversionLog log = Log(name + ".l2c");
        const fs::path out = Path(name + ".CII");
        fs::remove(out);
        WriteCiiFromLocal(local, out, m, log, clock_);
        Note(name + ".l2c", log);
    }
    void CiiToLocal(const std::string& name, const fs::path& cii, FormatMasterSource& m, bool to_sink) {
        ConversionLog log = Log(name + ".c2l");
        CiiToLocalOptions options;
        MemorySink sink;
        if (to_sink) options.sink = &sink;
        ReadCiiToLocal(cii, Path(name + "-back.txt"), m, log, options);
        if (to_sink) WriteFile(Path(name + "-back.txt"), std::string(sink.data.begin(), sink.data.end()));
        Note(name + ".c2l", log);
    }
    void CiiToXml(const std::string& name, const fs::path& cii, FormatMasterSource& m) {
        ConversionLog log = Log(name + ".c2x");
        XmlCiiState state;
        const fs::path out = Path(name + ".xml");
        fs::remove(out);
        edi::CiiToXml(cii, out, state, m, log);
        Note(name + ".c2x", log);
    }
    void XmlToCii(const std::string& name, const fs::path& xml, FormatMasterSource& m) {
        ConversionLog log = Log(name + ".x2c");
        XmlCiiState state;
        const fs::path out = Path(name + "-back.CII");
        fs::remove(out);
        edi::XmlToCii(xml, out, state, m, log);
        Note(name + ".x2c", log);
    }
    void Note(const std::string& name, const ConversionLog& log) {
        std::ofstream(Path(name + ".code")) << log.ErrorCode << "\n";
    }

private:
    fs::path dir_;
    bench::StillClock clock_;
};

int Write(const fs::path& dir, const fs::path& fuzz_data) {
    Snapshot snap(dir);
    struct Case {
        std::string name;
        std::vector<Field> fields;
        std::string mode;
        std::string code16;
        std::string xml_code;
        int lines;
    };
    const std::vector<Case> cases = {
        {"bench-sp", BenchFields(), " ", "M", "Shift_JIS", 300},
        {"bench-M", BenchFields(), "M", "M", "M", 300},
        {"bench-S", BenchFields(), "S", "M", "U", 200},
        {"bench-jis", BenchFields(), "M", "S", "S", 200},
        {"nested-sp", bench::kNested, " ", "M", "M", 300},
        {"nested-M", bench::kNested, "M", "M", "U", 300},
        {"nested-S", bench::kNested, "S", "M", "S", 300},
        {"two-sp", TwoByteAndBinary(), " ", "M", "M", 300},
        {"two-S-jis", TwoByteAndBinary(), "S", "S", "M", 300},
        {"two-M-utf16", TwoByteAndBinary(), "M", "U", "U", 300},
        {"long-sp", bench::kLong, " ", "M", "M", 8},
        {"long-M", bench::kLong, "M", "S", "S", 8},
        {"long-S", bench::kLong, "S", "U", "U", 8},
        {"pairs-sp", kPairs, " ", "M", "M", 400},
        {"pairs-S", kPairs, "S", "S", "U", 400},
        {"pairs-X", kPairs, "X", "M", "M", 40},
    };
    unsigned seed = 1;
    std::mt19937 damage(99);
    for (const Case& c : cases) {
        MemoryMasters m;
        bench::AddMasters(m, c.fields, c.mode, c.code16, c.xml_code);
        bench::LineMaker maker(seed++, true);
        const fs::path local_path = snap.Path(c.name + ".txt");
        WriteFile(local_path, maker.Lines(c.fields, c.lines));
        snap.LocalToCii(c.name, local_path, m);
        const fs::path cii = snap.Path(c.name + ".CII");
        snap.CiiToLocal(c.name, cii, m, false);
        snap.CiiToXml(c.name, cii, m);
        const fs::path xml = snap.Path(c.name + ".xml");
        snap.XmlToCii(c.name, xml, m);
        const std::string cii_bytes = ReadFile(cii);
        const std::string xml_bytes = ReadFile(xml);
        for (int k = 0; k < 6; ++k) {
            const std::string name = c.name + "-dmg" + std::to_string(k);
            WriteFile(snap.Path(name + ".in.CII"), Damaged(cii_bytes, damage));
            snap.CiiToLocal(name, snap.Path(name + ".in.CII"), m, true);
            snap.CiiToXml(name, snap.Path(name + ".in.CII"), m);
            if (c.xml_code == "U") continue;  // value junk is ASCII/UTF-8: only for 8-bit documents
            WriteFile(snap.Path(name + ".in.xml"), DamagedValues(xml_bytes, damage));
            snap.XmlToCii(name, snap.Path(name + ".in.xml"), m);
        }
    }
    if (!fuzz_data.empty()) {
        bench::AnyKindMasters any;
        for (const char* sub : {"fuzz", "fuzz-xml"}) {
            std::vector<fs::path> files;
            for (const auto& e : fs::directory_iterator(fuzz_data / sub)) files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const fs::path& f : files) {
                const std::string name = std::string(sub) + "-" + f.filename().string();
                if (std::string(sub) == "fuzz") {
                    snap.CiiToLocal(name, f, any, true);
                    snap.CiiToXml(name, f, any);
                } else {
                    snap.XmlToCii(name, f, any);
                }
            }
        }
    }
    return 0;
}

int RunOne(const std::string& kind, const fs::path& in, const fs::path& out, const std::string& mode) {
    MemoryMasters masters;
    bench::AddBenchMasters(masters, mode);
    ConversionLog log;
    log.file = out.parent_path() / "ERR.LOG";
    const bench::StillClock clock;
    fs::remove(out);
    if (kind == "local2cii") {
        WriteCiiFromLocal(in, out, masters, log, clock);
    } else if (kind == "cii2local") {
        ReadCiiToLocal(in, out, masters, log);
    } else if (kind == "xml2cii") {
        XmlCiiState state;
        XmlToCii(in, out, state, masters, log);
    } else if (kind == "cii2xml") {
        XmlCiiState state;
        CiiToXml(in, out, state, masters, log);
    } else {
        std::cerr << "unknown conversion " << kind << "\n";
        return 2;
    }
    return log.ErrorCode.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "write") return Write(args[1], args.size() > 2 ? fs::path(args[2]) : fs::path());
    if (args.size() >= 4 && args[0] == "run") return RunOne(args[1], args[2], args[3], args.size() > 4 ? args[4] : " ");
    std::cerr << "usage: converter_snapshot write DIR [FUZZ_DATA_DIR] | run KIND IN OUT [MODE]\n";
    return 2;
}
