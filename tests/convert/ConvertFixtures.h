// Masters, records, logs and fakes shared by the converter tests. A Field describes one
// message-side item and the local-side item paired with it (serials n and 100 + n).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "convert/CiiLayout.h"
#include "convert/FormatMasterSource.h"
#include "convert/LocalToCii.h"
#include "support/TestSupport.h"

namespace edi::test {

struct Field {
    int serial;
    int level;
    int tag;       // 項目№ of the message item
    int position;  // 項目位置 of the local item ("" for groups)
    std::string attribute;
    int length;  // both sides unless message_length is set
    int decimals = 0;
    std::string multi = "0";
    int repeat = 0;
    int message_length = -1;
    int message_decimals = -1;  // the message item's 小数部長さ when it differs
};

inline DbRow ItemRow(const std::string& side, const std::string& kind, const std::string& bpid, int serial, int partner,
                     const Field& f, int length, int decimals) {
    return DbRow{{"フォーマット種別", side},
                 {"情報区分コード", kind},
                 {"BPID", bpid},
                 {"項目通番", std::to_string(serial)},
                 {"対応項目通番", std::to_string(partner)},
                 {"レベル番号", std::to_string(f.level)},
                 {"項目№", std::to_string(side == "E" ? f.tag : 0)},
                 {"項目位置", f.attribute == "M" && side == "E" ? DbValue() : DbValue(std::to_string(f.position))},
                 {"項目名称", "item" + std::to_string(f.serial)},
                 {"属性", f.attribute},
                 {"長さ", std::to_string(length)},
                 {"小数部長さ", std::to_string(decimals)},
                 {"マルチ明細番号", f.multi},
                 {"繰返し数", std::to_string(f.repeat)},
                 {"固定項目値", DbValue()},
                 {"変換エラー対処", DbValue()}};
}

inline void AddFields(MemoryMasters& m, const std::string& kind, const std::string& bpid,
                      const std::vector<Field>& fields) {
    for (const Field& f : fields) {
        const int message_length = f.message_length >= 0 ? f.message_length : f.length;
        const int message_decimals = f.message_decimals >= 0 ? f.message_decimals : f.decimals;
        m.ItemRows.push_back(ItemRow("E", kind, bpid, f.serial, 100 + f.serial, f, message_length, message_decimals));
        m.ItemRows.push_back(ItemRow("L", kind, bpid, 100 + f.serial, f.serial, f, f.length, f.decimals));
    }
}

inline void AddFormat(MemoryMasters& m, const std::string& kind, const std::string& bpid,
                      const std::string& storage_mode, const std::string& xml_code = "M") {
    m.FormatRows.push_back({{"情報区分コード", kind},
                            {"BPID", bpid},
                            {"様式識別", "F1"},
                            {"シンタックスIDバージョン", "3"},
                            {"格納モード", storage_mode},
                            {"1バイト文字集合", "A"},
                            {"2バイト文字集合", "M"},
                            {"ローカル形式", "L"},
                            {"XML文字コード", xml_code}});
}

// The group settings for lines of own company OWN1 and the partner, BPID BP000001; the sender is
// the own company, and the six code-agency columns hold "001" to "006".
inline void AddGroupInfo(MemoryMasters& m, const std::string& partner, const std::string& storage_mode = " ",
                         const std::string& code16 = "M", const std::string& kind = "0110") {
    // clang-format off
    DbRow row{{"相手先コード", partner},         {"自社コード", "OWN1"},       {"情報区分", kind},
              {"BPID", "BP000001"},              {"運用モード", "P"},          {"発信VANコード", "VAN1"},
              {"発信センターコード", "CTR1"},    {"発信者コード", "OWN1"},     {"受信VANコード", "VAN2"},
              {"受信センターコード", "CTR2"},    {"受信者コード", partner},    {"交換参照番号", "REF0000001"},
              {"シンタックスIDバージョン", "3"}, {"格納モード", storage_mode}, {"8ビット文字コード", "A"},
              {"16ビット文字コード", code16},    {"短縮表示", "0"}};
    // clang-format on
    const char* agencies[] = {"発信VAN", "発信センター", "発信者", "受信VAN", "受信センター", "受信者"};
    for (int i = 0; i < 6; ++i) row[std::string(agencies[i]) + "コード管理機関コード"] = "00" + std::to_string(i + 1);
    m.GroupRows.push_back(std::move(row));
}

// The 39-byte line key for kind, own company and partner.
inline std::string LineKey(const std::string& kind, const std::string& own, const std::string& partner) {
    auto pad = [](std::string s, std::size_t n) {
        s.resize(n, ' ');
        return s;
    };
    return "     " + pad(kind, 4) + "      " + pad(own, 12) + pad(partner, 12);
}
inline const std::string kFlatKey = LineKey("0110", "OWN1", "PTN1");

// The flat master of most tests: kind "0110", BPID "BP000001", own company "OWN1", partner "PTN1".
inline std::vector<Field> FlatFields() {
    return {{1, 0, 1, 1, "X", 5}, {2, 0, 2, 6, "9", 6}, {3, 0, 3, 12, "Y", 6, 0, "0", 0, 8}, {4, 0, 4, 18, "K", 4}};
}

inline Bytes Raw(std::string_view text) { return Bytes(text.begin(), text.end()); }
inline std::string Text(ByteView bytes) { return std::string(bytes.begin(), bytes.end()); }
inline Bytes Cat(std::initializer_list<ByteView> parts) {
    Bytes out;
    for (ByteView p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Lines of ERR.LOG as CP932 bytes turned to text; none when there is no log.
inline std::vector<std::string> LogLines(const std::filesystem::path& log) {
    std::vector<std::string> lines;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(ToUnicodeText(line));
    return lines;
}

// The line n times, then the lines after.
inline std::vector<std::string> Repeated(const std::string& line, std::size_t n, std::vector<std::string> after) {
    std::vector<std::string> lines(n, line);
    lines.insert(lines.end(), after.begin(), after.end());
    return lines;
}
// The log of a file of zero bytes after a whole group that ends at byte `from`: 50 lines of the
// unknown-kind warning, then the reader gives the file up after 32002 bytes.
inline std::vector<std::string> NotCiiLog(const std::string& warning, std::size_t from) {
    return Repeated(warning, 50,
                    {"0017no record in 32002 bytes from byte " + std::to_string(from), "0008--15952 more left out--"});
}

// A sink that takes a number of bytes and then fails.
class FailingSink final : public ByteSink {
public:
    explicit FailingSink(std::size_t budget) : budget_(budget) {}
    bool Write(ByteView bytes) override {
        if (bytes.size() > budget_) return false;
        budget_ -= bytes.size();
        return true;
    }

private:
    std::size_t budget_;
};

// The 25 header elements of an XML document; every text fills its field exactly unless changed.
struct HeaderTexts {
    std::vector<std::pair<std::string, std::string>> fields = [] {
        // clang-format off
        const char* texts[] = {"1", "VANSEND00001", "CENTERSEND01", "SENDER000001", "VANRECV00001", "CENTERRECV01",
                               "RECEIVER0001", "BP00", "00", "01", "0101", "11", "REF0000001", "261205103000",
                               "V10ABC", "M", "A", "M", "N", "AG1", "AG2", "AG3", "AG4", "AG5", "AG6"};
        // clang-format on
        std::vector<std::pair<std::string, std::string>> out;
        for (std::size_t i = 0; i < std::size(texts); ++i)
            out.emplace_back(std::string(kCiiHeaderElements[i].element), texts[i]);
        return out;
    }();

    HeaderTexts& Set(const std::string& name, const std::string& text) {
        for (auto& [n, t] : fields)
            if (n == name) t = text;
        return *this;
    }
    std::string Xml() const {
        std::string out = "<JPMGH>";
        for (const auto& [n, t] : fields) out += "\r\n<" + n + ">" + t + "</" + n + ">";
        return out + "\r\n</JPMGH>";
    }
};

// A Shift_JIS document of kind 0101, with a document type declaration when one is given.
inline std::string SjisDocument(const std::string& body, const std::string& doctype = "") {
    return "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n" + (doctype.empty() ? "" : doctype + "\r\n") +
           "<CII-BP0000010101-V10>" + body + "\r\n</CII-BP0000010101-V10>\r\n";
}

// xmllint's verdict on a file: 0 when it is well-formed.
inline int XmlLint(const std::filesystem::path& file) {
    const int status = std::system(("xmllint --noout '" + file.string() + "' 2>/dev/null").c_str());
    return status == -1 ? -1 : WEXITSTATUS(status);
}

// A temporary folder, masters in memory, the conversion log and a fixed clock.
class ConverterTest : public ::testing::Test {
protected:
    void SetUp() override { log.file = dir / "ERR.LOG"; }

    void UseFlatMaster(const std::string& mode = " ") {
        AddFields(masters, "0110", "BP000001", FlatFields());
        AddFormat(masters, "0110", "BP000001", mode);
        AddGroupInfo(masters, "PTN1", mode);
    }
    // Masters of one kind and BPID, with the group settings of the flat master's line key.
    void UseFields(const std::vector<Field>& fields, const std::string& mode = " ", const std::string& kind = "0110") {
        masters = MemoryMasters();
        AddFields(masters, kind, "BP000001", fields);
        AddFormat(masters, kind, "BP000001", mode);
        AddGroupInfo(masters, "PTN1", mode, "M", kind);
    }
    // The item rows of one side ("E" message, "L" local) dropped.
    void DropItems(const std::string& side) {
        std::erase_if(masters.ItemRows, [&side](const DbRow& row) { return *row.at("フォーマット種別") == side; });
    }

public:
    // "0C" and a header for the kind and BP000001, sender OWN1, receiver PTN1 unless told.
    static Bytes Header(const std::string& mode, const std::string& kind = "0110",
                        const std::string& receiver = "PTN1") {
        CiiHeaderFields f;
        f.BPID = "BP000001";
        f.情報区分 = kind;
        f.発信者コード = "OWN1";
        f.受信者コード = receiver;
        f.格納モード = mode;
        f.文字コード16ビット = "M";
        CiiGroupHeader h;
        h.Fill(f, LocalDateTime{2026, 12, 5, 16, 0, 0});
        return Cat({Raw("0C"), h.body});
    }
    static Bytes End(std::string_view count) {
        Bytes body = Raw(count);
        body.resize(249, ' ');
        return Cat({Raw("0E"), body});
    }
    // A data record, with the long prefix when its area is over 32759 bytes; padded to 251 bytes
    // in modes " " and "M".
    static Bytes Data(std::string_view number, ByteView area, bool pad = true) {
        Bytes r = Cat({Raw("9D"), Raw(number)});
        if (area.size() > kCiiMaxShortElementArea) {
            const std::string length = std::to_string(area.size() + 17);
            r = Cat({r, Hex("80 80 F7"), Raw(std::string(7 - length.size(), '0') + length)});
        } else {
            r.push_back(static_cast<std::uint8_t>((area.size() + 9) >> 8));
            r.push_back(static_cast<std::uint8_t>((area.size() + 9) & 0xFF));
        }
        r.insert(r.end(), area.begin(), area.end());
        r.push_back(0xFE);
        if (pad && r.size() < 251) r.resize(251, ' ');
        return r;
    }

    // The element areas of the data records of a file of 251-byte records, in order.
    static std::vector<Bytes> Areas(const Bytes& cii) {
        std::vector<Bytes> areas;
        for (std::size_t at = 0; at + 251 <= cii.size(); at += 251) {
            if (cii[at + 1] != 'D') continue;
            const std::size_t total = cii[at + 7] * 256 + cii[at + 8];
            areas.emplace_back(cii.begin() + static_cast<std::ptrdiff_t>(at + 9),
                               cii.begin() + static_cast<std::ptrdiff_t>(at + total));
        }
        return areas;
    }

protected:
    // Local records (UTF-8 text) written to CII through files: its bytes, none when no file was written.
    Bytes CiiOf(std::string_view local_utf8) {
        WriteSjisFile(dir / "in.txt", local_utf8);
        std::filesystem::remove(dir / "out.CII");
        WriteCiiFromLocal(dir / "in.txt", dir / "out.CII", masters, log, clock);
        return std::filesystem::exists(dir / "out.CII") ? ReadFile(dir / "out.CII") : Bytes();
    }
    std::vector<std::string> LogLines() const { return test::LogLines(log.file); }
    void ClearLog() {
        std::filesystem::remove(log.file);
        log.ErrorCode.clear();
    }

    TempDir dir;
    MemoryMasters masters;
    ConversionLog log;
    FixedClock clock{LocalDateTime{2026, 12, 5, 16, 0, 0}};
};

}  // namespace edi::test

namespace edi {
// The helpers every converter test spells without their namespace.
using test::Cat;
using test::Field;
using test::Hex;
using test::kFlatKey;
using test::Raw;
using test::Text;
}  // namespace edi
