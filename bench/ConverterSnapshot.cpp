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
#include "convert/CiiToLocal.h"
#include "convert/LocalToCii.h"
#include "convert/XmlCii.h"

namespace fs = std::filesystem;
using namespace edi;

namespace {

// One message-side item and its local partner (serials n and 100 + n).
struct Field {
    int serial;
    int level;
    int tag;
    int position;
    std::string attribute;  // the message side's
    int length;
    int decimals = 0;
    std::string multi = "0";
    int repeat = 0;
    int message_length = -1;
    int message_decimals = -1;
    std::string local_attribute = "";  // when the local side's differs
};

const std::vector<Field> kNested = {
    {1, 0, 1, 1, "X", 3},
    {2, 0, 20, 4, "M", 0, 0, "1", 3},
    {3, 1, 21, 4, "M", 0, 0, "2", 2},
    {4, 2, 2, 4, "9", 4},
    {5, 2, 3, 8, "X", 2},
    {6, 1, 4, 16, "X", 4},
    {7, 1, 5, 20, "N", 3},
    {8, 0, 22, 61, "M", 0, 0, "3", 2},
    {9, 1, 7, 61, "X", 2},
    {10, 0, 6, 65, "Y", 8},
    {11, 0, 8, 73, "9", 7, 2},
    {12, 0, 9, 81, "Y", 6, 0, "0", 0, 8},
    {13, 0, 10, 87, "K", 4},
};
const std::vector<Field> kTwoByte = {
    {1, 0, 300, 1, "X", 3},
    {2, 0, 20, 4, "M", 0, 0, "A", 3},
    {3, 1, 21, 4, "M", 0, 0, "12", 2},
    {4, 2, 302, 4, "9", 4},
    {5, 2, 5, 8, "X", 2},
    {6, 1, 70000, 16, "K", 4},
    {7, 1, 305, 20, "N", 3},
    {8, 0, 306, 61, "Y", 8},
    {9, 0, 239, 69, "B", 4},
};
const std::vector<Field> kLong = {
    {1, 0, 1, 1, "X", 40000}, {2, 0, 20, 40001, "M", 0, 0, "1", 2}, {3, 1, 2, 40001, "X", 5},
    {4, 0, 3, 40011, "K", 6}, {5, 0, 4, 40017, "X", 300},
};
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

std::vector<Field> BenchFields() {
    std::vector<Field> out;
    for (const bench::BenchItem& i : bench::kItems) {
        out.push_back(Field{i.serial, i.level, i.tag, i.position, i.attribute, i.length, i.decimals, i.multi, i.repeat,
                            i.message_length});
    }
    return out;
}

DbRow ItemRow(bool message, const Field& f) {
    const int length = message && f.message_length >= 0 ? f.message_length : f.length;
    const int decimals = message && f.message_decimals >= 0 ? f.message_decimals : f.decimals;
    const std::string attribute = !message && !f.local_attribute.empty() ? f.local_attribute : f.attribute;
    return DbRow{{"フォーマット種別", message ? "E" : "L"},
                 {"情報区分コード", "0110"},
                 {"BPID", "BP000001"},
                 {"項目通番", std::to_string(message ? f.serial : 100 + f.serial)},
                 {"対応項目通番", std::to_string(message ? 100 + f.serial : f.serial)},
                 {"レベル番号", std::to_string(f.level)},
                 {"項目№", std::to_string(message ? f.tag : 0)},
                 {"項目位置", std::to_string(f.position)},
                 {"項目名称", "item"},
                 {"属性", attribute},
                 {"長さ", std::to_string(length)},
                 {"小数部長さ", std::to_string(decimals)},
                 {"マルチ明細番号", f.multi},
                 {"繰返し数", std::to_string(f.repeat)}};
}

void AddMasters(MemoryMasters& m, const std::vector<Field>& fields, const std::string& mode, const std::string& code16,
                const std::string& xml_code) {
    for (const Field& f : fields) {
        m.ItemRows.push_back(ItemRow(true, f));
        m.ItemRows.push_back(ItemRow(false, f));
    }
    m.FormatRows.push_back({{"情報区分コード", "0110"},
                            {"BPID", "BP000001"},
                            {"様式識別", "F1"},
                            {"シンタックスIDバージョン", "3"},
                            {"格納モード", mode},
                            {"1バイト文字集合", "A"},
                            {"2バイト文字集合", "M"},
                            {"ローカル形式", "L"},
                            {"XML文字コード", xml_code}});
    for (const char* partner : {"PTN1", "PTN2"}) {
        m.GroupRows.push_back({{"相手先コード", partner},
                               {"自社コード", "OWN1"},
                               {"情報区分", "0110"},
                               {"BPID", "BP000001"},
                               {"運用モード", "P"},
                               {"発信VANコード", "VAN1"},
                               {"発信センターコード", "CTR1"},
                               {"発信者コード", "OWN1"},
                               {"受信VANコード", "VAN2"},
                               {"受信センターコード", "CTR2"},
                               {"受信者コード", partner},
                               {"交換参照番号", "REF0000001"},
                               {"シンタックスIDバージョン", "3"},
                               {"格納モード", mode},
                               {"8ビット文字コード", "A"},
                               {"16ビット文字コード", code16},
                               {"短縮表示", "0"},
                               {"発信VANコード管理機関コード", "001"},
                               {"発信センターコード管理機関コード", "002"},
                               {"発信者コード管理機関コード", "003"},
                               {"受信VANコード管理機関コード", "004"},
                               {"受信センターコード管理機関コード", "005"},
                               {"受信者コード管理機関コード", "006"}});
    }
}

std::size_t Width(const std::vector<Field>& fs, std::size_t i, int level) {
    std::size_t width = 0;
    while (i < fs.size() && fs[i].level >= level) {
        if (fs[i].level == level) {
            if (fs[i].attribute == "M") {
                width += static_cast<std::size_t>(std::max(fs[i].repeat, 1)) * Width(fs, i + 1, level + 1);
            } else {
                width += static_cast<std::size_t>(fs[i].length + (fs[i].decimals != 0 ? 1 : 0));
            }
        }
        ++i;
    }
    return width;
}

// Local records: mostly good values, some empty, some damaged (signs, blanks, letters, lead
// bytes without trail, half-width katakana, points in odd places).
class LineMaker {
public:
    explicit LineMaker(unsigned seed) : rng_(seed) {}

    std::string Record(const std::vector<Field>& fs) {
        std::string record;
        std::size_t i = 0;
        Fill(record, fs, i, 0, 0, false);
        if (Chance(3)) record.resize(record.size() / 2);
        if (Chance(3)) record += "TRAILING";
        return record;
    }
    bool Chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(rng_) < percent; }
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

private:
    char Digit() { return static_cast<char>('0' + Pick(0, 9)); }
    char Junk() {
        static const std::string kJunk = " -+.0123456789ABz\t\x81\x82\xB1\xDF\x7F,";
        return kJunk[static_cast<std::size_t>(Pick(0, static_cast<int>(kJunk.size()) - 1))];
    }

    void Fill(std::string& record, const std::vector<Field>& fs, std::size_t& i, int level, std::size_t offset,
              bool empty) {
        while (i < fs.size() && fs[i].level == level) {
            const Field& f = fs[i++];
            if (f.attribute == "M") {
                const std::size_t stride = Width(fs, i, level + 1);
                std::size_t after = i;
                const bool whole_group_empty = Chance(20);
                for (int k = 0; k < std::max(f.repeat, 1); ++k) {
                    after = i;
                    Fill(record, fs, after, level + 1, offset + static_cast<std::size_t>(k) * stride,
                         empty || whole_group_empty || Chance(35));
                }
                i = after;
                continue;
            }
            const std::string value = Value(f, empty || Chance(25));
            const std::size_t at = offset + static_cast<std::size_t>(f.position - 1);
            if (record.size() < at + value.size()) record.resize(at + value.size(), ' ');
            std::copy(value.begin(), value.end(), record.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }

    std::string Value(const Field& f, bool empty) {
        const auto n = static_cast<std::size_t>(f.length + (f.decimals != 0 ? 1 : 0));
        const std::string& a = f.local_attribute.empty() ? f.attribute : f.local_attribute;
        std::string text;
        if (!empty && Chance(8)) {
            for (std::size_t k = 0; k < n; ++k) text += Junk();
            return text;
        }
        if (a == "X" || a == "B" || a == "X ") {
            static const std::string kChars = "ABCxyz019-\xB1\xB2\xDF";
            const std::size_t used = empty ? 0 : static_cast<std::size_t>(Pick(1, static_cast<int>(n)));
            for (std::size_t k = 0; k < used; ++k) {
                if (k + 1 < used && Chance(5)) {
                    text += "\x93\x8C";
                    ++k;
                    continue;
                }
                text += (k > 0 && Chance(10)) ? ' ' : kChars[static_cast<std::size_t>(Pick(0, 12))];
            }
            if (!empty && Chance(12)) {
                // Markup characters, controls and characters that only code page 932 holds.
                static const char* kOdd[] = {
                    "&",        "<",        ">",        "\"",       "'",        "\r",   "\t", "\x01", "\x7F",
                    "\x87\x40", "\x81\x60", "\x85\x40", "\xFD",     "\x80",     "\xA0", "\\", "~",    "\xFA\x40",
                    "\xF0\x40", "\x81\x7C", "\x81\x91", "\xED\x40", "\x82\xA0", "\x88", "]]>"};
                const std::string odd = kOdd[Pick(0, 24)];
                text.replace(static_cast<std::size_t>(Pick(0, static_cast<int>(text.size()) - 1)), odd.size(), odd);
            }
            text.resize(n, ' ');
        } else if (a == "9" || a == "N") {
            for (int k = 0; k < f.length - f.decimals; ++k) text += empty ? '0' : Digit();
            if (f.decimals != 0) {
                text += '.';
                for (int k = 0; k < f.decimals; ++k) text += empty ? '0' : Digit();
            }
            if (!empty && Chance(10)) text[0] = '-';
            if (!empty && Chance(5)) text[text.size() / 2] = ' ';
        } else if (a == "Y") {
            if (empty) return std::string(n, '0');
            const int year = Pick(1930, 2069);
            text = std::to_string(year) + "0" + Digit() + "1" + Digit();
            if (Chance(5)) text = "20000000";
            text = text.substr(text.size() - std::min<std::size_t>(n, text.size()));
        } else if (a == "K") {
            static const char* kWide[] = {"\x93\x8C", "\x8B\x9E", "\x82\x60", "\x8A\xBF",
                                          "\x81\x40", "\x87\x40", "\x81\x60", "\xEA\xA4"};
            const std::size_t used = empty ? 0 : static_cast<std::size_t>(Pick(1, static_cast<int>(n / 2)));
            static const char* kRare[] = {"\xFA\x40", "\xF0\x40", "\x81\x7C", "\x81\x91", "\xED\x40", "\x85\x40"};
            for (std::size_t k = 0; k < n / 2; ++k) {
                text += k < used ? (Chance(5) ? kRare[Pick(0, 5)] : kWide[Pick(0, 7)]) : "\x81\x40";
            }
            if (!empty && Chance(15)) text.replace(0, 2, "A\xB1");  // half-width: goes full width
            text.resize(n, ' ');
        }
        return text;
    }

    std::mt19937 rng_;
};

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
        {"nested-sp", kNested, " ", "M", "M", 300},
        {"nested-M", kNested, "M", "M", "U", 300},
        {"nested-S", kNested, "S", "M", "S", 300},
        {"two-sp", kTwoByte, " ", "M", "M", 300},
        {"two-S-jis", kTwoByte, "S", "S", "M", 300},
        {"two-M-utf16", kTwoByte, "M", "U", "U", 300},
        {"long-sp", kLong, " ", "M", "M", 8},
        {"long-M", kLong, "M", "S", "S", 8},
        {"long-S", kLong, "S", "U", "U", 8},
        {"pairs-sp", kPairs, " ", "M", "M", 400},
        {"pairs-S", kPairs, "S", "S", "U", 400},
        {"pairs-X", kPairs, "X", "M", "M", 40},
    };
    unsigned seed = 1;
    std::mt19937 damage(99);
    for (const Case& c : cases) {
        MemoryMasters m;
        AddMasters(m, c.fields, c.mode, c.code16, c.xml_code);
        LineMaker maker(seed++);
        std::string local;
        for (int n = 0; n < c.lines; ++n) {
            if (maker.Chance(2)) local += maker.Chance(50) ? "   \r\n" : "\r\n";
            std::string key = "     0110      OWN1        ";
            key += (n / 7) % 2 == 0 ? "PTN1        " : "PTN2        ";
            local += key + maker.Record(c.fields) + (maker.Chance(5) ? "\n" : "\r\n");
        }
        const fs::path local_path = snap.Path(c.name + ".txt");
        WriteFile(local_path, local);
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
