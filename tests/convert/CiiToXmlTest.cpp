#include <gtest/gtest.h>

#include "convert/XmlCii.h"
#include "support/DbTestSupport.h"
#include "support/TestSupport.h"
#include "XmlCiiTestSupport.h"

namespace edi {
namespace {

using test::ItemDef;
using test::ReadFile;
using test::ReadText;

std::string Pad(std::string s, std::size_t n) {
    s.resize(n, ' ');
    return s;
}

std::string Raw(std::string_view hex) {
    const Bytes b = test::Hex(hex);
    return std::string(b.begin(), b.end());
}

// A group header record with its unfed positions blank and "E" at offset 145.
std::string HeaderRecord(const std::string& receiver = "RECEIVER1", char storage = 'M', std::string info = "0101") {
    std::string r = "0C1";
    r += Pad("VAN01", 12) + Pad("CENTER01", 12) + Pad("SENDER01", 12) + Pad("VAN02", 12) + Pad("CENTER02", 12) +
         Pad(receiver, 12);
    r += "BP000001" + std::string(12, ' ') + info + std::string(6, ' ') + "11" + Pad("REF01", 10) + "261205103000";
    r += std::string(12, ' ') + Pad("V10", 6) + "E" + storage + "AM" + std::string(11, ' ') + "N";
    r += "001002003004005006" + std::string(70, ' ');
    EXPECT_EQ(r.size(), 251u);
    return r;
}

std::string EndRecord(const char* count) { return "0E" + std::string(count) + std::string(244, ' '); }

// A data record of one 251-byte block: "9D", the number, the length of prefix and area, the area,
// 0xFE and the padding.
std::string DataRecord(const char* number, std::string_view area_hex) {
    const std::string area = Raw(area_hex);
    const std::size_t length = area.size() + 9;
    std::string r = "9D" + std::string(number) + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF);
    r += area + '\xFE';
    return Pad(r, 251);
}

class CiiToXmlTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_.file = dir_ / "ERR.LOG";
        masters_.format_rows = {test::FormatRow()};
    }
    // Converts the CII bytes; the XML text, empty when no file was written.
    std::string Convert(const std::string& cii) {
        const auto in = dir_ / ("in" + std::to_string(++files_) + ".CII");
        xml_ = dir_ / ("out" + std::to_string(files_) + ".xml");
        test::WriteFile(in, cii);
        ok_ = CiiToXml(in, xml_, state_, masters_, log_);
        if (!std::filesystem::exists(xml_)) return "";
        EXPECT_EQ(test::XmlLint(xml_), 0) << ReadText(xml_);
        return ReadText(xml_);
    }
    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }

    test::TempDir dir_;
    ConversionLog log_;
    test::RowMasters masters_;
    XmlCiiState state_;
    std::filesystem::path xml_;
    int files_ = 0;
    bool ok_ = false;
};

TEST_F(CiiToXmlTest, HeaderAndEndGiveDeclarationRootAndTheTwentyFiveHeaderItems) {
    masters_.SetItems({{1, 0, 1, "X", 10}});
    const std::string xml = Convert(HeaderRecord() + EndRecord("00000"));
    ASSERT_TRUE(ok_);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>", 0), 0u) << xml;
    EXPECT_NE(xml.find("<CII-BP0000010101-V10>\r\n<JPMGH>\r\n<JPC03>1</JPC03>\r\n<JPC04>VAN01</JPC04>"),
              std::string::npos)
        << xml;
    EXPECT_EQ(Count(xml, "<JPC"), 25);
    EXPECT_NE(xml.find("<JPC10>BP00</JPC10>\r\n<JPC11>00</JPC11>\r\n<JPC12>01</JPC12>"), std::string::npos);
    EXPECT_NE(xml.find("<JPC35>006</JPC35></JPMGH>"), std::string::npos);
    EXPECT_EQ(Count(xml, "JPTRM"), 0);
    EXPECT_EQ(state_.encoding_letter, "M");
}

TEST_F(CiiToXmlTest, WritesEveryValueByItsAttribute) {
    masters_.SetItems({{1, 0, 1, "X", 10},
                       {2, 0, 5, "B", 4},
                       {3, 0, 3, "Y", 8},
                       {4, 0, 196613, "X", 3},
                       {5, 0, 40000, "K", 4},
                       {6, 0, 0, "M", 0, "120", 2},
                       {7, 1, 7, "9", 5}});
    const std::string message =
        "01 02 41 26 05 02 05 A0 03 05 32 31 31 32 35 F0 F3 00 05 01 3C 9C 40 04 8A BF 8E 9A "
        "F0 FD 00 78 00 07 02 31 32 FB FB 00 07 01 33 FC 00 63 01 41";
    const std::string xml = Convert(HeaderRecord() + DataRecord("00001", message) + EndRecord("00001"));
    ASSERT_TRUE(ok_);
    EXPECT_NE(xml.find("<JPTRM SEQ=\"1\">\r\n    <JP00001>A&amp;</JP00001>\r\n    <JP00005>05A0</JP00005>"
                       "\r\n    <JP00003>20021125</JP00003>\r\n    <JP196613>&lt;</JP196613>"
                       "\r\n    <JP40000>\x8A\xBF\x8E\x9A</JP40000>"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<JPM120>\r\n      <JPM120R>\r\n        <JP00007>12</JP00007></JPM120R>\r\n      <JPM120R/>"
                       "\r\n      <JPM120R>\r\n        <JP00007>3</JP00007></JPM120R></JPM120>\r\n</JPTRM>"),
              std::string::npos)
        << xml;
    EXPECT_EQ(test::LogLines(log_.file), std::vector<std::string>{"0033JP99"});
}

TEST_F(CiiToXmlTest, SavesTheDocumentAsItStoodAtTheLastEndRecord) {
    masters_.SetItems({{1, 0, 1, "X", 10}});
    const auto cii = dir_ / "open.CII";
    const auto existing = dir_ / "open.xml";
    test::WriteFile(cii, HeaderRecord() + DataRecord("00001", "01 01 41"));
    test::WriteFile(existing, std::string_view("OLD"));
    EXPECT_TRUE(CiiToXml(cii, existing, state_, masters_, log_));
    EXPECT_EQ(ReadText(existing), "OLD") << "a file without end record is not saved";
    EXPECT_EQ(test::LogLines(log_.file).back().substr(0, 4), "0039");

    const std::string xml = Convert(HeaderRecord() + DataRecord("00001", "01 01 41") + EndRecord("00001") +
                                    DataRecord("00002", "01 01 42"));
    EXPECT_EQ(Count(xml, "<JPTRM"), 1);
    EXPECT_NE(xml.find("<JP00001>A</JP00001>"), std::string::npos);
    EXPECT_TRUE(xml.ends_with("</JPTRM>\r\n\r\n</CII-BP0000010101-V10>\r\n")) << xml;
}

TEST_F(CiiToXmlTest, SkipsUnknownRecordKindsTwoBytesAtATime) {
    masters_.SetItems({{1, 0, 1, "X", 10}});
    const std::string xml = Convert(HeaderRecord() + "    " + DataRecord("00001", "01 01 41") + "0Z" +
                                    EndRecord("00001"));
    ASSERT_TRUE(ok_);
    EXPECT_EQ(test::LogLines(log_.file), (std::vector<std::string>{"0008", "0008"}));
    EXPECT_TRUE(log_.ErrorCode.empty());
    EXPECT_NE(xml.find("<JP00001>A</JP00001>"), std::string::npos);

    // A file that is no CII: 50 lines of 0008, then the reader gives up after 32002 bytes.
    std::filesystem::remove(log_.file);
    EXPECT_EQ(Convert(HeaderRecord() + std::string(40000, '\0')), "");
    EXPECT_FALSE(ok_);
    EXPECT_EQ(log_.ErrorCode, "0017");
    const auto lines = test::LogLines(log_.file);
    ASSERT_EQ(lines.size(), 52u);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "0008"), 50);
    EXPECT_EQ(lines[50], "0017no record in 32002 bytes from byte 251");
    EXPECT_EQ(lines[51], "0008--15952 more left out--");
}

TEST_F(CiiToXmlTest, LongFormMessagesGetTheSameElement) {
    masters_.SetItems({{1, 0, 1, "X", 10}});
    const std::string long_form = Pad("9D00007" + Raw("80 80 F7") + "0000020" + Raw("01 01 41 FE"), 251);
    const std::string xml = Convert(HeaderRecord() + long_form + EndRecord("00001"));
    ASSERT_TRUE(ok_);
    EXPECT_NE(xml.find("<JPTRM SEQ=\"7\">\r\n    <JP00001>A</JP00001>\r\n</JPTRM>"), std::string::npos) << xml;
    EXPECT_EQ(Count(xml, "<JPTRM"), 1);
}

TEST_F(CiiToXmlTest, FailuresEndTheConversionKeepingWhatWasSaved) {
    struct Case {
        const char* name;
        std::vector<ItemDef> items;
        bool format_row;
        std::string tail;  // after one whole group
        const char* code;
    };
    const Case cases[] = {
        {"no format row", {{1, 0, 1, "X", 10}}, false, "", "0001"},
        {"no message items", {}, true, "", "0003"},
        {"end record cut", {{1, 0, 1, "X", 10}}, true, HeaderRecord("OTHER") + "0E00001", "0007"},
        {"prefix cut", {{1, 0, 1, "X", 10}}, true, HeaderRecord("OTHER") + "9D000", "0007"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        masters_.SetItems(c.items);
        masters_.format_rows.clear();
        if (c.format_row) masters_.format_rows.push_back(test::FormatRow());
        log_.ErrorCode.clear();
        std::filesystem::remove(log_.file);
        const std::string xml = Convert(HeaderRecord() + EndRecord("00000") + c.tail);
        EXPECT_FALSE(ok_);
        EXPECT_EQ(log_.ErrorCode, c.code);
        EXPECT_EQ(test::LogLines(log_.file), std::vector<std::string>{c.code}) << "the code with an empty text";
        if (c.tail.empty()) {
            EXPECT_EQ(xml, "") << "nothing was saved before the failure";
        } else {
            EXPECT_EQ(Count(xml, "<JPMGH>"), 1) << "the group after the last end record is left out";
        }
    }
}

TEST_F(CiiToXmlTest, ReportsAndLeavesOutGroupsWithoutMasterItem) {
    masters_.SetItems({{1, 0, 1, "X", 10}, {2, 0, 0, "M", 0, "3", 1}, {3, 1, 3, "X", 3}});
    const std::string xml =
        Convert(HeaderRecord() + DataRecord("00001", "F0 FA 39 00 03 01 41 FB FA 33 FC FC 00 01 01 42") +
                EndRecord("00001"));
    ASSERT_TRUE(ok_);
    EXPECT_EQ(test::LogLines(log_.file), std::vector<std::string>{"0034JPM57"});
    EXPECT_NE(xml.find("<JPTRM SEQ=\"1\">\r\n    <JP00001>B</JP00001>\r\n</JPTRM>"), std::string::npos) << xml;
}

// CII written by the XML-to-CII rules (message numbers and end counts running over the file)
// comes back byte for byte from its XML form, for every group-number form and every encoding.
TEST_F(CiiToXmlTest, RoundTripsThroughTheXmlFormInEveryEncoding) {
    masters_.SetItems({{1, 0, 1, "X", 10},
                       {2, 0, 2, "9", 7},
                       {3, 0, 3, "Y", 8},
                       {4, 0, 4, "K", 20},
                       {5, 0, 5, "B", 4},
                       {6, 0, 0, "M", 0, "120", 2},
                       {7, 1, 7, "X", 5},
                       {8, 0, 0, "M", 0, "5", 2},
                       {9, 1, 9, "X", 3},
                       {10, 0, 0, "M", 0, "A", 2},
                       {11, 1, 11, "X", 3},
                       {12, 0, 300, "X", 3}});
    const std::string cii =
        HeaderRecord() +
        DataRecord("00001",
                   "01 05 41 42 B1 81 60 02 03 31 32 30 03 08 32 30 32 36 31 32 30 35 04 04 8A BF 8E 9A "
                   "05 02 05 A0 F0 FD 00 78 00 07 02 41 42 FB 00 07 02 43 44 FC FA 35 00 09 01 51 FC "
                   "FA 41 00 0B 01 5A FC 01 2C 03 61 26 63") +
        DataRecord("00002", "01 01 5A FA 07 02 41 42 FB 07 02 43 44 FC") + EndRecord("00002") +
        HeaderRecord("RECEIVER2") + DataRecord("00003", "01 02 87 40 05 00") + EndRecord("00003");
    const struct {
        const char* code;
        const char* declaration;
    } encodings[] = {{"M", "encoding=\"Shift_JIS\""}, {"U", ""}, {"S", "encoding=\"ISO-2022-JP\""}};
    for (const auto& e : encodings) {
        SCOPED_TRACE(e.code);
        masters_.format_rows = {test::FormatRow(e.code)};
        const std::string xml = Convert(cii);
        ASSERT_TRUE(ok_) << log_.ErrorCode;
        if (*e.declaration != '\0') {
            EXPECT_NE(xml.find(e.declaration), std::string::npos);
        } else {
            EXPECT_EQ(xml.substr(0, 2), "\xFF\xFE");
        }
        const auto back = dir_ / (std::string("back") + e.code + ".CII");
        ASSERT_TRUE(XmlToCii(xml_, back, state_, masters_, log_)) << log_.ErrorCode;
        EXPECT_EQ(ReadText(back), cii);
    }
    EXPECT_FALSE(std::filesystem::exists(log_.file)) << ReadText(log_.file);
}

TEST_F(CiiToXmlTest, EntryPointLogsItsStartLineAndPicksTheDirectionByTheName) {
    masters_.SetItems({{1, 0, 1, "X", 10}});
    const std::string cii = HeaderRecord() + DataRecord("00001", "01 01 41") + EndRecord("00001");
    struct Case {
        const char* input;
        const char* output;
        bool makes_xml;
    };
    const Case cases[] = {{"a.cii", "a.xml", true}, {"b.CII", "b.xml", true}, {"c.CIIX", "c.cii", false},
                          {"d.xml", "d.CII", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        std::filesystem::remove(log_.file);
        if (IsCiiFileName(c.input)) {
            test::WriteFile(dir_ / c.input, cii);
        } else {
            test::WriteSjisFile(dir_ / c.input, test::SjisDocument(test::HeaderTexts{}.Xml() + "<JPTRM/>"));
        }
        EXPECT_TRUE(XmlCiiConvert(dir_ / c.input, dir_ / c.output, 12, state_, masters_, log_));
        EXPECT_EQ(test::LogLines(log_.file).front(), "0000--K800300 start--00000012");
        const std::string out = ReadText(dir_ / c.output);
        EXPECT_EQ(out.rfind("<?xml", 0) == 0, c.makes_xml) << out.substr(0, 20);
        EXPECT_EQ(out.rfind("0C", 0) == 0, !c.makes_xml);
    }
}

TEST(CiiToXmlDatabaseTest, RoundTripsWithTheMastersOfSqlite) {
    std::string error;
    const auto db = test::TestDatabase::Create(test::Backend::kSqlite, error);
    ASSERT_NE(db, nullptr) << error;
    WorkArea work;
    ASSERT_TRUE(db->Connect(work));
    for (const char* sql : {
             "INSERT INTO FL1902フォーマット情報マスタ VALUES ('0101','BP000001','S1','V10','M','J','K','L','U')",
             "INSERT INTO FL1903レコードフォーマット情報マスタ VALUES "
             "('E','0101','BP000001',1,1,0,1,'1','n','X',10,0,NULL,0,NULL,NULL)",
             "INSERT INTO FL1903レコードフォーマット情報マスタ VALUES "
             "('E','0101','BP000001',2,2,0,0,'1','g','M',0,0,'7',2,NULL,NULL)",
             "INSERT INTO FL1903レコードフォーマット情報マスタ VALUES "
             "('E','0101','BP000001',3,3,1,2,'1','n','9',5,0,NULL,0,NULL,NULL)",
         }) {
        work.SqlText = sql;
        ASSERT_TRUE(ExecuteSql(work)) << sql;
    }
    test::TempDir dir;
    work.Log.file = dir / "ERR.LOG";
    const std::string cii = HeaderRecord() + DataRecord("00001", "01 02 B1 B2 F0 FA 37 00 02 01 39 FB FC") +
                            EndRecord("00001");
    test::WriteFile(dir / "in.CII", cii);
    XmlCiiState state;
    ASSERT_TRUE(XmlCiiConvert(work, state, dir / "in.CII", dir / "mid.xml", 3)) << work.Log.ErrorCode;
    EXPECT_EQ(test::XmlLint(dir / "mid.xml"), 0);
    ASSERT_TRUE(XmlCiiConvert(work, state, dir / "mid.xml", dir / "out.CII", 4)) << work.Log.ErrorCode;
    EXPECT_EQ(ReadText(dir / "out.CII"), cii);
    work.Db.reset();
}

}  // namespace
}  // namespace edi
