// Masters, records, logs and fakes shared by the converter tests. The masters are built as the
// round-trip test and the converter snapshot build theirs: a Field describes one message-side item
// and the local-side item paired with it (serials n and 100 + n).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "RoundTripMasters.h"
#include "convert/CiiLayout.h"
#include "convert/FormatMasterSource.h"
#include "convert/LocalToCii.h"
#include "support/TestSupport.h"

namespace edi::test {

using bench::Field;

// The 39-byte line key of kind 0110, own company OWN1 and partner PTN1.
inline const std::string kFlatKey = "     0110      OWN1        PTN1        ";

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
struct FailingSink final : ByteSink {
    explicit FailingSink(std::size_t bytes) : budget(bytes) {}
    bool Write(ByteView bytes) override {
        if (bytes.size() > budget) return false;
        budget -= bytes.size();
        return true;
    }
    std::size_t budget;
};

// The 25 header elements of an XML document; every text fills its field exactly unless changed.
struct HeaderTexts {
    // clang-format off
    std::vector<std::string> texts = {"1", "VANSEND00001", "CENTERSEND01", "SENDER000001", "VANRECV00001",
                                      "CENTERRECV01", "RECEIVER0001", "BP00", "00", "01", "0101", "11", "REF0000001",
                                      "261205103000", "V10ABC", "M", "A", "M", "N", "AG1", "AG2", "AG3", "AG4", "AG5",
                                      "AG6"};
    // clang-format on

    HeaderTexts& Set(std::string_view name, const std::string& text) {
        for (std::size_t i = 0; i < texts.size(); ++i)
            if (kCiiHeaderElements[i].element == name) texts[i] = text;
        return *this;
    }
    std::string Xml() const {
        std::string out = "<JPMGH>";
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const std::string name(kCiiHeaderElements[i].element);
            out += "\r\n<" + name + ">" + texts[i] + "</" + name + ">";
        }
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

    // Masters of the fields (the flat master unless told) for the kind and BPID BP000001, with
    // the group settings of partners PTN1 and PTN2 of own company OWN1.
    void UseFields(const std::vector<Field>& fields = FlatFields(), const std::string& mode = " ",
                   const std::string& kind = "0110", const std::string& xml_code = "M") {
        masters = MemoryMasters();
        bench::AddMasters(masters, fields, mode, "M", xml_code, kind);
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
    static Bytes End(std::string_view count) { return Cat({Raw("0E"), Raw(count), Bytes(249 - count.size(), ' ')}); }
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
    // Lines of ERR.LOG as CP932 bytes turned to text; none when there is no log.
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        std::ifstream in(log.file);
        for (std::string line; std::getline(in, line);) lines.push_back(ToUnicodeText(line));
        return lines;
    }
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
