#include <gtest/gtest.h>

#include "convert/XmlCii.h"
#include "support/DbTestSupport.h"
#include "support/TestSupport.h"
#include "XmlCiiTestSupport.h"
#include "XmlFuzzTarget.h"

namespace edi {
namespace {

using test::HeaderTexts;
using test::Hex;
using test::ItemDef;
using test::ReadFile;
using test::SjisDocument;

const std::vector<ItemDef> kItems = {
    {1, 0, 1, "X", 10},      {2, 0, 2, "9", 7},       {3, 0, 3, "Y", 8},       {4, 0, 4, "K", 20},
    {5, 0, 5, "B", 4},       {6, 0, 0, "M", 0, "120", 2}, {7, 1, 7, "X", 5},  {8, 0, 0, "M", 0, "0"},
    {12, 1, 12, "X", 3},     {13, 0, 0, "M", 0, "1"}, {14, 1, 14, "X", 3},     {15, 0, 0, "M", 0, "A"},
    {16, 1, 16, "X", 3},     {20, 0, 239, "X", 3},    {21, 0, 240, "X", 3},    {22, 0, 300, "X", 3},
};

// A 251-byte block: the bytes given, then spaces.
Bytes Block(std::string_view hex) {
    Bytes b = Hex(hex);
    b.resize(251, ' ');
    return b;
}

class XmlToCiiTest : public ::testing::Test {
protected:
    void SetUp() override {
        log_.file = dir_ / "ERR.LOG";
        masters_.format_rows = {test::FormatRow()};
        masters_.SetItems(kItems);
    }
    // Converts a Shift_JIS document into a fresh CII file and returns the file's bytes.
    Bytes Convert(const std::string& body, const HeaderTexts& header = {}) {
        const auto xml = dir_ / ("in" + std::to_string(++files_) + ".xml");
        const auto cii = dir_ / ("out" + std::to_string(files_) + ".CII");
        test::WriteSjisFile(xml, SjisDocument(header.Xml() + body));
        ok_ = XmlToCii(xml, cii, state_, masters_, log_);
        return std::filesystem::exists(cii) ? ReadFile(cii) : Bytes{};
    }
    // The record kinds of a file of 251-byte records.
    static std::string Kinds(const Bytes& cii) {
        std::string kinds;
        for (std::size_t at = 0; at + 1 < cii.size(); at += 251) {
            if (!kinds.empty()) kinds += ' ';
            kinds += static_cast<char>(cii[at]);
            kinds += static_cast<char>(cii[at + 1]);
        }
        return kinds;
    }
    static std::string Text(const Bytes& b, std::size_t from, std::size_t n) {
        return std::string(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
    }

    test::TempDir dir_;
    ConversionLog log_;
    test::RowMasters masters_;
    XmlCiiState state_;
    int files_ = 0;
    bool ok_ = false;
};

TEST_F(XmlToCiiTest, EncodesEveryAttributeTagAndGroupForm) {
    struct Case {
        const char* name;
        std::string message;
        const char* record;  // the data record before its space padding
    };
    const Case cases[] = {
        {"X text", "<JP00001>ABC</JP00001>", "39 44 30 30 30 30 31 00 0E 01 03 41 42 43 FE"},
        {"text trimmed, CDATA read", "<JP00001>\r\n  <![CDATA[A<B]]>  </JP00001>", "39 44 30 30 30 30 31 00 0E 01 03 41 3C 42 FE"},
        {"9 zero and Y 000000 write nothing, an empty B its tag and length 0",
         "<JP00002>000</JP00002><JP00003>000000</JP00003><JP00005></JP00005>", "39 44 30 30 30 30 31 00 0B 05 00 FE"},
        {"9 in general number form", "<JP00002>-00120.50</JP00002>",
         "39 44 30 30 30 30 31 00 11 02 06 2D 31 32 30 2E 35 FE"},
        {"Y of five digits gets a zero and the century", "<JP00003>21125</JP00003>",
         "39 44 30 30 30 30 31 00 13 03 08 32 30 30 32 31 31 32 35 FE"},
        {"Y from 51 on is of the 1900s", "<JP00003>991231</JP00003>",
         "39 44 30 30 30 30 31 00 13 03 08 31 39 39 39 31 32 33 31 FE"},
        {"B hexadecimal", "<JP00005>05a0</JP00005>", "39 44 30 30 30 30 31 00 0D 05 02 05 A0 FE"},
        {"K in Shift-JIS", "<JP00004>漢字</JP00004>", "39 44 30 30 30 30 31 00 0F 04 04 8A BF 8E 9A FE"},
        {"group 120 with two occurrences",
         "<JPM120><JPM120R><JP00007>AB</JP00007></JPM120R>\r\n<JPM120R><JP00007>CD</JP00007></JPM120R></JPM120>",
         "39 44 30 30 30 30 31 00 19 F0 FD 00 78 00 07 02 41 42 FB 00 07 02 43 44 FC FE"},
        {"group 0 in one-byte mode", "<JPM0><JPM0R><JP00012>X</JP00012></JPM0R></JPM0>",
         "39 44 30 30 30 30 31 00 0E FA 0C 01 58 FC FE"},
        {"group 1, an empty last occurrence", "<JPM1><JPM1R><JP00014>Q</JP00014></JPM1R><JPM1R/></JPM1>",
         "39 44 30 30 30 30 31 00 12 F0 FA 31 00 0E 01 51 FB FC FE"},
        {"letter group", "<JPMA><JPMAR><JP00016>Z</JP00016></JPMAR></JPMA>",
         "39 44 30 30 30 30 31 00 11 F0 FA 41 00 10 01 5A FC FE"},
        {"239 keeps one byte, 240 switches, later tags take two",
         "<JP00239>abc</JP00239><JP00240>def</JP00240><JP00001>g</JP00001>",
         "39 44 30 30 30 30 31 00 19 EF 03 61 62 63 F0 00 F0 03 64 65 66 00 01 01 67 FE"},
        {"an empty 240 switches all the same", "<JP00240></JP00240><JP00001>g</JP00001>",
         "39 44 30 30 30 30 31 00 0E F0 00 01 01 67 FE"},
        {"300", "<JP00300>abc</JP00300>", "39 44 30 30 30 30 31 00 10 F0 01 2C 03 61 62 63 FE"},
        {"other elements are not entered", "<FOO><JP00001>A</JP00001></FOO><!-- c --><JP00001>B</JP00001>",
         "39 44 30 30 30 30 31 00 0C 01 01 42 FE"},
        {"empty message", "", "39 44 30 30 30 30 31 00 09 FE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes cii = Convert("<JPTRM SEQ=\"1\">" + c.message + "</JPTRM>");
        ASSERT_TRUE(ok_);
        ASSERT_EQ(cii.size(), 3u * 251);
        EXPECT_EQ(Kinds(cii), "0C 9D 0E");
        EXPECT_EQ(Bytes(cii.begin() + 251, cii.begin() + 502), Block(c.record));
        EXPECT_EQ(Text(cii, 502, 7), "0E00001");
    }
    EXPECT_TRUE(log_.ErrorCode.empty());
}

TEST_F(XmlToCiiTest, ReportsAndSkipsElementsAndGroupsWithoutMasterItem) {
    // Nothing is lost without a line: unknown elements and groups, "B" texts that are not pairs of
    // hexadecimal digits, characters that Shift-JIS cannot hold (here é, written as "?").
    const Bytes cii = Convert(
        "<JPTRM><JP00099>x</JP00099><JPM77><JPM77R><JP00001>y</JP00001></JPM77R></JPM77>"
        "<JP00005>0G</JP00005><JP00005>05A</JP00005><JP00001>A&#233;</JP00001></JPTRM>");
    ASSERT_TRUE(ok_);
    EXPECT_EQ(Bytes(cii.begin() + 251, cii.begin() + 502), Block("39 44 30 30 30 30 31 00 0D 01 02 41 3F FE"));
    EXPECT_EQ(test::LogLines(log_.file),
              (std::vector<std::string>{"0033JP00099", "0034JPM77", "0035項目№=5", "0035項目№=5", "0040項目№=1"}));
    EXPECT_TRUE(log_.ErrorCode.empty()) << "warnings only";
}

TEST_F(XmlToCiiTest, IdenticalFullHeadersKeepOneGroupAndShorterTextsStartNewOnes) {
    const HeaderTexts full;
    const std::string message = "<JPTRM><JP00001>A</JP00001></JPTRM>";
    Bytes cii = Convert(full.Xml() + message + full.Xml() + message);
    EXPECT_EQ(Kinds(cii), "0C 9D 9D 0E") << "the document's first header, then messages only";
    EXPECT_EQ(Text(cii, 3 * 251, 7), "0E00002");
    EXPECT_EQ(masters_.loads, 1);

    HeaderTexts shorter;
    shorter.Set("JPC04", "VAN");
    cii = Convert(message + shorter.Xml() + message, shorter);
    EXPECT_EQ(Kinds(cii), "0C 9D 0E 0C 9D 0E");
    EXPECT_EQ(Text(cii, 2 * 251, 7), "0E00001");
    EXPECT_EQ(Text(cii, 5 * 251, 7), "0E00002") << "the count runs over the whole file";
    EXPECT_EQ(Text(cii, 2 + 1, 12), "VAN         ");
}

TEST_F(XmlToCiiTest, PlacesHeaderTextsAndResetsTheUnfedPositions) {
    state_.header.body.fill('#');  // what an earlier conversion left
    HeaderTexts header;
    header.Set("JPC03", "").Set("JPC04", "ｶﾅ漢").Set("JPC05", "CENTERSEND012").Set("JPC12", "1");
    const Bytes cii = Convert("", header);
    ASSERT_EQ(Kinds(cii), "0C 0E");
    const Bytes h(cii.begin() + 2, cii.begin() + 251);
    EXPECT_EQ(h[0], ' ') << "an empty JPC03 stores a space";
    EXPECT_EQ(Bytes(h.begin() + 1, h.begin() + 13), Hex("B6 C5 8A BF 20 20 20 20 20 20 20 20"));
    EXPECT_EQ(Text(h, 13, 12), "CENTERSEND01");
    EXPECT_EQ(test::LogLines(log_.file), std::vector<std::string>{"0040JPC05"}) << "a text cut at its field's end";
    EXPECT_EQ(Text(h, 73, 8), "BP00001 ");
    EXPECT_EQ(Text(h, 81, 12), std::string(12, ' '));
    EXPECT_EQ(Text(h, 93, 12), "0101      11");
    EXPECT_EQ(Text(h, 139, 10), "V10ABCEMAM");
    EXPECT_EQ(Text(h, 149, 11), std::string(11, ' '));
    EXPECT_EQ(Text(h, 160, 19), "NAG1AG2AG3AG4AG5AG6");
    EXPECT_EQ(Text(h, 179, 70), std::string(70, ' '));
}

TEST_F(XmlToCiiTest, EveryConversionBeginsWithAHeaderWhateverTheLastOneLeft) {
    const std::string message = "<JPTRM><JP00001>A</JP00001></JPTRM>";
    EXPECT_EQ(Kinds(Convert(message)), "0C 9D 0E");
    EXPECT_EQ(Kinds(Convert(message)), "0C 9D 0E") << "same header as the conversion before";
}

TEST_F(XmlToCiiTest, UnknownStorageModeDropsMessagesButKeepsHeaderAndEnd) {
    HeaderTexts header;
    header.Set("JPC23", "Q");
    const Bytes cii = Convert("<JPTRM><JP00001>A</JP00001></JPTRM><JPTRM/>", header);
    EXPECT_EQ(Kinds(cii), "0C 0E");
    EXPECT_EQ(Text(cii, 251, 7), "0E00002");
}

TEST_F(XmlToCiiTest, LongBodiesTakeTheSeventeenBytePrefix) {
    HeaderTexts header;
    header.Set("JPC23", "S");  // 32001-byte blocks, the last one not padded
    struct Case {
        std::size_t value;
        const char* prefix;  // after the first block's continuation digit
        std::size_t last_block;
    };
    // Element area = tag + F2 hi lo + value: 32755 gives 32759 bytes, 32756 gives 32760.
    const Case cases[] = {{32755, "44 30 30 30 30 31 80 00 01 F2 7F F3 41", 769},
                          {32756, "44 30 30 30 30 31 80 80 F7 30 30 33 32 37 37 37 01 F2 7F F4 41", 778}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const Bytes cii = Convert("<JPTRM><JP00001>" + std::string(c.value, 'A') + "</JP00001></JPTRM>", header);
        ASSERT_EQ(cii.size(), 251 + 32001 + c.last_block + 251);
        EXPECT_EQ(cii[251], '1');
        const Bytes expected = Hex(c.prefix);
        EXPECT_EQ(Bytes(cii.begin() + 252, cii.begin() + 252 + static_cast<std::ptrdiff_t>(expected.size())), expected);
        EXPECT_EQ(cii[251 + 32001], '9') << "the last block keeps the record's own first byte";
        EXPECT_EQ(cii[251 + 32001 + c.last_block - 1], 0xFE);
        EXPECT_EQ(Text(cii, cii.size() - 251, 7), "0E00001");
    }
}

TEST_F(XmlToCiiTest, TakesTheEncodingLetterFromTheDeclaration) {
    // 漢字 as the K item in every encoding: the value is the same Shift-JIS bytes.
    auto utf16 = [](std::u16string_view text) {
        std::string bytes = "\xFF\xFE";
        for (const char16_t c : text) {
            bytes += static_cast<char>(c & 0xFF);
            bytes += static_cast<char>(c >> 8);
        }
        return bytes;
    };
    const std::string ascii_header = HeaderTexts{}.Xml();
    std::u16string header16(ascii_header.begin(), ascii_header.end());
    struct Case {
        const char* name;
        std::string bytes;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"UTF-16", utf16(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><R>" + header16 + u"<JPTRM><JP00004>漢字</JP00004></JPTRM></R>"),
         "", "U"},
        {"ISO-2022-JP",
         "<?xml version=\"1.0\" encoding=\"ISO-2022-JP\"?><R>" + ascii_header +
             "<JPTRM><JP00004>\x1B$B4A;z\x1B(B</JP00004></JPTRM></R>",
         "", "S"},
        {"Shift_JIS in any case", "<?xml version=\"1.0\" encoding=\"shift_jis\"?><R>" + ascii_header +
             "<JPTRM><JP00004>\x8A\xBF\x8E\x9A</JP00004></JPTRM></R>", "U", "M"},
        {"other names count as Shift_JIS", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><R>" + ascii_header +
             "<JPTRM><JP00004>\xE6\xBC\xA2\xE5\xAD\x97</JP00004></JPTRM></R>", "S", "M"},
        {"no encoding keeps the letter", "<?xml version=\"1.0\"?><R>" + ascii_header +
             "<JPTRM><JP00004>\xE6\xBC\xA2\xE5\xAD\x97</JP00004></JPTRM></R>", "S", "S"},
        {"no declaration keeps the letter", "<R>" + ascii_header +
             "<JPTRM><JP00004>\xE6\xBC\xA2\xE5\xAD\x97</JP00004></JPTRM></R>", "U", "U"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto xml = dir_ / "enc.xml";
        const auto cii = dir_ / (std::string(c.after) + std::to_string(++files_) + ".CII");
        test::WriteFile(xml, c.bytes);
        state_.encoding_letter = c.before;
        ASSERT_TRUE(XmlToCii(xml, cii, state_, masters_, log_)) << log_.ErrorCode;
        EXPECT_EQ(state_.encoding_letter, c.after);
        const Bytes out = ReadFile(cii);
        ASSERT_EQ(out.size(), 3u * 251);
        EXPECT_EQ(Bytes(out.begin() + 260, out.begin() + 266), Hex("04 04 8A BF 8E 9A"));
    }
}

TEST_F(XmlToCiiTest, DoubleByteItemsFollowTheHeadersCharacterCode) {
    HeaderTexts header;
    header.Set("JPC25", "S");
    const Bytes jis = Convert("<JPTRM><JP00004>漢字</JP00004></JPTRM>", header);
    EXPECT_EQ(Bytes(jis.begin() + 260, jis.begin() + 266), Hex("04 04 34 41 3B 7A"));
    header.Set("JPC25", "U");
    const Bytes utf16 = Convert("<JPTRM><JP00004>漢字</JP00004></JPTRM>", header);
    EXPECT_EQ(Bytes(utf16.begin() + 260, utf16.begin() + 266), Hex("04 04 6F 22 5B 57"));
}

// A Shift_JIS document with a document type declaration before its root.
std::string DocumentWithDtd(const std::string& doctype, const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n" + doctype + "\r\n<CII-BP0000010101-V10>" +
           HeaderTexts{}.Xml() + body + "\r\n</CII-BP0000010101-V10>\r\n";
}

TEST_F(XmlToCiiTest, ExpandsInternalEntitiesInValuesAndHeaderTexts) {
    const auto xml = dir_ / "entities.xml";
    const auto cii = dir_ / "entities.CII";
    test::WriteFile(xml, DocumentWithDtd("<!DOCTYPE CII [<!ENTITY co \"ACME Corp\"><!ENTITY nest \"[&co;&#65;]\">]>",
                                         "<JPTRM><JP00001>a&co;b</JP00001><JP00007>&nest;</JP00007></JPTRM>"));
    masters_.SetItems({{1, 0, 1, "X", 20}, {7, 0, 7, "X", 20}});
    ASSERT_TRUE(XmlToCii(xml, cii, state_, masters_, log_));
    const Bytes bytes = ReadFile(cii);
    EXPECT_EQ(Text(bytes, 251, 37), "9D00001" + std::string("\x00\x24\x01\x0B", 4) + "aACME Corpb" +
                                        std::string("\x07\x0C", 2) + "[ACME CorpA]" + "\xFE");
    EXPECT_FALSE(std::filesystem::exists(log_.file));
}

TEST_F(XmlToCiiTest, UnreadableOrMalformedDocumentsLeaveTheCiiFileAsItWas) {
    const auto cii = dir_ / "job.CII";
    test::WriteFile(cii, std::string_view("OLD"));
    test::WriteFile(dir_ / "items.dtd", std::string_view("<!ENTITY d \"from the DTD\">"));
    std::string laughs = "<!DOCTYPE CII [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    laughs += "]>";
    struct Case {
        const char* name;
        std::string document;  // empty: no such file
        const char* code;
        const char* why = "";  // in the log line
    };
    const Case cases[] = {
        {"missing file", "", "0031"},
        {"unclosed element after a whole message",
         SjisDocument(HeaderTexts{}.Xml() + "<JPTRM><JP00001>A</JP00001></JPTRM><JPTRM><JP00001>B</JPTRM>"), "0032"},
        {"cut off", SjisDocument(HeaderTexts{}.Xml()).substr(0, 200), "0032"},
        {"not XML", std::string("\x00\x01garbage", 9), "0032"},
        {"invalid Shift_JIS bytes",
         "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<CII>\r\n<JPTRM>\r\n<JP00001>a\x82\x20"
         "b</JP00001>\r\n"
         "</JPTRM>\r\n</CII>\r\n",
         "0032", "line 4: encoding error: input conversion failed due to input error, bytes 0x82 0x20"},
        {"external entity used",
         DocumentWithDtd("<!DOCTYPE CII [<!ENTITY ext SYSTEM \"file:///etc/hostname\">]>",
                         "<JPTRM><JP00001>a&ext;b</JP00001></JPTRM>"),
         "0032", "the document declares the external entity ext: refused"},
        {"external parameter entity", DocumentWithDtd("<!DOCTYPE CII [<!ENTITY % pe SYSTEM \"items.dtd\"> %pe;]>", ""),
         "0032", "the document declares the external entity %pe: refused"},
        {"entity of a DTD that is never loaded",
         DocumentWithDtd("<!DOCTYPE CII SYSTEM \"items.dtd\">", "<JPTRM>\r\n<JP00001>&d;</JP00001></JPTRM>"), "0032",
         "line 30: the entity &d; is not declared"},
        {"entities expanding a billion times", DocumentWithDtd(laughs, "<JPTRM><JP00001>&l9;</JP00001></JPTRM>"),
         "0032", "entity reference loop"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto xml = dir_ / ("bad" + std::to_string(++files_) + ".xml");
        if (!c.document.empty()) test::WriteFile(xml, c.document);
        log_.ErrorCode.clear();
        std::filesystem::remove(log_.file);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(XmlToCii(xml, cii, state_, masters_, log_));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "libxml2 reports go to ERR.LOG only";
        EXPECT_EQ(log_.ErrorCode, c.code);
        const auto lines = test::LogLines(log_.file);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].substr(0, 4), c.code);
        EXPECT_NE(lines[0].find(xml.filename().string()), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(c.why), std::string::npos) << lines[0];
        EXPECT_EQ(test::ReadText(cii), "OLD");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 11)
        << "no temporary file stays behind";
}

TEST_F(XmlToCiiTest, AppendsToTheCiiFileOfAnEarlierDocument) {
    const auto xml = dir_ / "a.xml";
    const auto cii = dir_ / "job.CII";
    test::WriteSjisFile(xml, SjisDocument(HeaderTexts{}.Xml() + "<JPTRM/>"));
    ASSERT_TRUE(XmlToCii(xml, cii, state_, masters_, log_));
    ASSERT_TRUE(XmlToCii(xml, cii, state_, masters_, log_));
    EXPECT_EQ(Kinds(ReadFile(cii)), "0C 9D 0E 0C 9D 0E");
}

TEST(XmlFuzzSeedsTest, ReplaysTheFuzzTargetsSeeds) {
    test::TempDir dir;
    const auto seeds = test::DataFiles("convert/fuzz-xml");
    EXPECT_GE(seeds.size(), 3u);
    for (const auto& seed : seeds) {
        SCOPED_TRACE(seed.filename().string());
        EXPECT_TRUE(bench::XmlToCiiOnce(ReadFile(seed), dir / "ERR.LOG"));
    }
}

TEST(XmlToCiiDatabaseTest, ReadsTheMastersFromSqlite) {
    std::string error;
    const auto db = test::TestDatabase::Create(test::Backend::kSqlite, error);
    ASSERT_NE(db, nullptr) << error;
    WorkArea work;
    ASSERT_TRUE(db->Connect(work));
    const char* statements[] = {
        "INSERT INTO FL1902フォーマット情報マスタ VALUES ('0101','BP000001','S1','V10','M','J','K','L','M')",
        "INSERT INTO FL1903レコードフォーマット情報マスタ VALUES "
        "('E','0101','BP000001',1,1,0,1,'1','n','X',10,0,NULL,0,NULL,NULL)",
        "INSERT INTO FL1903レコードフォーマット情報マスタ VALUES "
        "('E','0101','BP000001',2,2,0,0,'1','g','M',0,0,'120',2,NULL,NULL)",
        "INSERT INTO FL1903レコードフォーマット情報マスタ VALUES "
        "('E','0101','BP000001',3,3,1,2,'1','n','9',5,0,NULL,0,NULL,NULL)",
    };
    for (const char* sql : statements) {
        work.SqlText = sql;
        ASSERT_TRUE(ExecuteSql(work)) << sql;
    }
    test::TempDir dir;
    work.Log.file = dir / "ERR.LOG";
    const auto xml = dir / "in.xml";
    const auto cii = dir / "out.CII";
    test::WriteSjisFile(xml, SjisDocument(HeaderTexts{}.Xml() +
                                          "<JPTRM><JP00001>ｱ</JP00001><JPM120><JPM120R><JP00002>07</JP00002>"
                                          "</JPM120R></JPM120></JPTRM>"));
    XmlCiiState state;
    DatabaseMasters masters(work);
    ASSERT_TRUE(XmlToCii(xml, cii, state, masters, work.Log)) << work.Log.ErrorCode;
    EXPECT_EQ(state.format.格納モード, "M");
    ASSERT_EQ(state.message_items.Count(), 3);
    const Bytes out = ReadFile(cii);
    ASSERT_EQ(out.size(), 3u * 251);
    EXPECT_EQ(Bytes(out.begin() + 251, out.begin() + 502),
              Block("39 44 30 30 30 30 31 00 15 01 01 B1 F0 FD 00 78 00 02 01 37 FC FE"));
    work.Db.reset();
}

}  // namespace
}  // namespace edi
