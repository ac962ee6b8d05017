// CII to its XML form and back: values by attribute, groups, headers, encodings, damaged input.
#include <gtest/gtest.h>

#include "ConvertFixtures.h"
#include "XmlFuzzTarget.h"
#include "convert/XmlCii.h"

namespace edi {
namespace {

using test::HeaderTexts;
using test::ReadFile;
using test::ReadText;

const std::vector<Field> kItems = {
    {1, 0, 1, 1, "X", 10},         {2, 0, 2, 1, "9", 7},         {3, 0, 3, 1, "Y", 8},
    {4, 0, 4, 1, "K", 20},         {5, 0, 5, 1, "B", 4},         {6, 0, 0, 0, "M", 0, 0, "120", 2},
    {7, 1, 7, 1, "X", 5},          {8, 0, 0, 0, "M", 0, 0, "0"}, {12, 1, 12, 1, "X", 3},
    {13, 0, 0, 0, "M", 0, 0, "1"}, {14, 1, 14, 1, "X", 3},       {15, 0, 0, 0, "M", 0, 0, "A"},
    {16, 1, 16, 1, "X", 3},        {20, 0, 239, 1, "X", 3},      {21, 0, 240, 1, "X", 3},
    {22, 0, 300, 1, "X", 3},
};

class XmlCiiTest : public test::ConverterTest {
protected:
    void SetUp() override {
        test::ConverterTest::SetUp();
        Items(kItems);
    }
    void Items(const std::vector<Field>& fields, const std::string& xml_code = "M") {
        UseFields(fields, "M", "0101", xml_code);
    }
    // CII bytes into a fresh XML file: its text, empty when no file was written.
    std::string ToXml(ByteView cii) {
        const auto in = dir / ("in" + std::to_string(++files) + ".CII");
        xml = dir / ("out" + std::to_string(files) + ".xml");
        test::WriteFile(in, cii);
        ok = CiiToXml(in, xml, state, masters, log);
        if (!std::filesystem::exists(xml)) return "";
        EXPECT_EQ(test::XmlLint(xml), 0) << ReadText(xml);
        return ReadText(xml);
    }
    // A document of kind 0101 (the header, then the body) into a fresh CII file: its bytes.
    Bytes ToCii(const std::string& body, const HeaderTexts& header = {}, const std::string& doctype = "") {
        const auto in = dir / ("in" + std::to_string(++files) + ".xml");
        const auto cii = dir / ("out" + std::to_string(files) + ".CII");
        test::WriteSjisFile(in, test::SjisDocument(header.Xml() + body, doctype));
        ok = XmlToCii(in, cii, state, masters, log);
        return std::filesystem::exists(cii) ? ReadFile(cii) : Bytes{};
    }
    static Bytes Group(ByteView message, const std::string& receiver = "PTN1", const char* count = "00001") {
        return Cat({Header("M", "0101", receiver), message, End(count)});
    }
    // The record kinds of a file of 251-byte records, an end record with its count.
    static std::string Kinds(const Bytes& cii) {
        std::string kinds;
        for (std::size_t at = 0; at + 1 < cii.size(); at += 251)
            kinds += (kinds.empty() ? "" : " ") + Text(Sub(cii, at, cii[at + 1] == 'E' ? 7 : 2));
        return kinds;
    }
    static Bytes Sub(const Bytes& b, std::size_t from, std::size_t n) {
        return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
    }
    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    }

    XmlCiiState state;
    std::filesystem::path xml;
    int files = 0;
    bool ok = false;
};

TEST_F(XmlCiiTest, CiiToXmlHeaderAndEndGiveDeclarationRootAndTheTwentyFiveHeaderItems) {
    const std::string text = ToXml(Cat({Header("M", "0101"), End("00000")}));
    ASSERT_TRUE(ok);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<CII-BP0000010101-V10>", 0), 0u) << text;
    EXPECT_EQ(Count(text, "<JPC"), 25);
    for (const char* part : {">\r\n<JPMGH>\r\n<JPC03>", "<JPC06>OWN1</JPC06>", "<JPC19>261205160000</JPC19>",
                             "<JPC10>BP00</JPC10>\r\n<JPC11>00</JPC11>\r\n<JPC12>01</JPC12>", "</JPC35></JPMGH>"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
    EXPECT_EQ(Count(text, "JPTRM"), 0);
    EXPECT_EQ(state.encoding_letter, "M");
}

TEST_F(XmlCiiTest, CiiToXmlWritesEveryValueByItsAttribute) {
    struct Row {
        const char* name;
        std::vector<Field> items;
        Bytes after_header;
        std::string expected;
        std::vector<std::string> log;
    };
    const Row rows[] = {
        {"every attribute, nested groups, an unknown tag",
         {{1, 0, 1, 1, "X", 10},
          {2, 0, 5, 1, "B", 4},
          {3, 0, 3, 1, "Y", 8},
          {4, 0, 196613, 1, "X", 3},
          {5, 0, 40000, 1, "K", 4},
          {6, 0, 0, 0, "M", 0, 0, "120", 2},
          {7, 1, 7, 1, "9", 5}},
         Data("00001", Hex("01 02 41 26 05 02 05 A0 03 05 32 31 31 32 35 F0 F3 00 05 01 3C 9C 40 04 8A BF 8E 9A "
                           "F0 FD 00 78 00 07 02 31 32 FB FB 00 07 01 33 FC 00 63 01 41")),
         "<JPTRM SEQ=\"1\">\r\n    <JP00001>A&amp;</JP00001>\r\n    <JP00005>05A0</JP00005>\r\n    "
         "<JP00003>20021125</JP00003>\r\n    <JP196613>&lt;</JP196613>\r\n    <JP40000>\x8A\xBF\x8E\x9A</JP40000>"
         "\r\n  <JPM120>\r\n      <JPM120R>\r\n        <JP00007>12</JP00007></JPM120R>\r\n      <JPM120R/>\r\n"
         "      <JPM120R>\r\n        <JP00007>3</JP00007></JPM120R></JPM120>\r\n</JPTRM>",
         {"0033JP99"}},
        {"a long-form message",
         {{1, 0, 1, 1, "X", 10}},
         Cat({Raw("9D00007"), Hex("80 80 F7"), Raw("0000020"), Hex("01 01 41 FE"), Bytes(230, ' ')}),
         "<JPTRM SEQ=\"7\">\r\n    <JP00001>A</JP00001>\r\n</JPTRM>\r\n\r\n</CII-",
         {}},
        {"a group without master item is reported and left out",
         {{1, 0, 1, 1, "X", 10}, {2, 0, 0, 0, "M", 0, 0, "3", 1}, {3, 1, 3, 1, "X", 3}},
         Data("00001", Hex("F0 FA 39 00 03 01 41 FB FA 33 FC FC 00 01 01 42")),
         "<JPTRM SEQ=\"1\">\r\n    <JP00001>B</JP00001>\r\n</JPTRM>",
         {"0034JPM57"}},
        {"unknown record kinds are skipped two bytes at a time",
         {{1, 0, 1, 1, "X", 10}},
         Cat({Raw("    "), Data("00001", Hex("01 01 41")), Raw("0Z")}),
         "<JPTRM SEQ=\"1\">\r\n    <JP00001>A</JP00001>\r\n</JPTRM>",
         {"0008", "0008"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Items(r.items);
        ClearLog();
        const std::string text = ToXml(Group(r.after_header));
        ASSERT_TRUE(ok);
        EXPECT_EQ(Count(text, "<JPTRM"), 1);
        EXPECT_NE(text.find(r.expected), std::string::npos) << text;
        EXPECT_EQ(LogLines(), r.log);
        EXPECT_EQ(log.ErrorCode, "");
    }
}

TEST_F(XmlCiiTest, CiiToXmlSavesTheDocumentAsItStoodAtTheLastEndRecord) {
    const auto existing = dir / "open.xml";
    test::WriteFile(dir / "open.CII", Cat({Header("M", "0101"), Data("00001", Hex("01 01 41"))}));
    test::WriteFile(existing, std::string_view("OLD"));
    EXPECT_TRUE(CiiToXml(dir / "open.CII", existing, state, masters, log));
    EXPECT_EQ(ReadText(existing), "OLD") << "a file without end record is not saved";
    EXPECT_EQ(LogLines().back().substr(0, 4), "0039");

    const std::string text = ToXml(Cat({Group(Data("00001", Hex("01 01 41"))), Data("00002", Hex("01 01 42"))}));
    EXPECT_EQ(Count(text, "<JPTRM"), 1);
    EXPECT_TRUE(text.ends_with("<JP00001>A</JP00001>\r\n</JPTRM>\r\n\r\n</CII-BP0000010101-V10>\r\n")) << text;
}

TEST_F(XmlCiiTest, CiiToXmlFailuresEndTheConversionKeepingWhatWasSaved) {
    struct Row {
        const char* name;
        bool items;
        bool format_row;
        Bytes tail;  // after one whole group
        const char* code;
        std::vector<std::string> log = {};  // the code with an empty text unless told
    };
    const Row rows[] = {
        {"no format row", true, false, {}, "0001"},
        {"no message items", false, true, {}, "0003"},
        {"end record cut", true, true, Cat({Header("M", "0101", "OTHER"), Raw("0E00001")}), "0007"},
        {"prefix cut", true, true, Cat({Header("M", "0101", "OTHER"), Raw("9D000")}), "0007"},
        {"a file that is no CII", true, true, Bytes(40000, 0), "0017", test::NotCiiLog("0008", 502)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Items(r.items ? std::vector<Field>{{1, 0, 1, 1, "X", 10}} : std::vector<Field>{});
        if (!r.format_row) masters.FormatRows.clear();
        ClearLog();
        const std::string text = ToXml(Cat({Group({}, "PTN1", "00000"), r.tail}));
        EXPECT_FALSE(ok);
        EXPECT_EQ(log.ErrorCode, r.code);
        EXPECT_EQ(Count(text, "<JPMGH>"), r.tail.empty() ? 0 : 1) << "only the groups before the failure are saved";
        EXPECT_EQ(LogLines(), r.log.empty() ? std::vector<std::string>{r.code} : r.log);
    }
}

// CII written by the XML-to-CII rules (message numbers and end counts running over the file)
// comes back byte for byte from its XML form, for every group-number form and every encoding.
TEST_F(XmlCiiTest, CiiToXmlRoundTripsThroughTheXmlFormInEveryEncoding) {
    const Bytes cii =
        Cat({Header("M", "0101"),
             Data("00001", Hex("01 05 41 42 B1 81 60 02 03 31 32 30 03 08 32 30 32 36 31 32 30 35 04 04 8A BF 8E 9A "
                               "05 02 05 A0 F0 FD 00 78 00 07 02 41 42 FB 00 07 02 43 44 FC FA 31 00 0E 01 51 FC "
                               "FA 41 00 10 01 5A FC 01 2C 03 61 26 63")),
             Data("00002", Hex("01 01 5A FA 07 02 41 42 FB 07 02 43 44 FC")), End("00002"),
             Group(Data("00003", Hex("01 02 87 40 05 00")), "PTN2", "00003")});
    const std::pair<const char*, const char*> encodings[] = {
        {"M", "encoding=\"Shift_JIS\""}, {"U", "\xFF\xFE"}, {"S", "encoding=\"ISO-2022-JP\""}};
    for (const auto& [code, declaration] : encodings) {
        SCOPED_TRACE(code);
        Items(kItems, code);
        const std::string text = ToXml(cii);
        ASSERT_TRUE(ok) << log.ErrorCode;
        EXPECT_NE(text.substr(0, 50).find(declaration), std::string::npos);
        const auto back = dir / (std::string("back") + code + ".CII");
        state.encoding_letter.clear();
        ASSERT_TRUE(XmlToCii(xml, back, state, masters, log)) << log.ErrorCode;
        EXPECT_EQ(ReadFile(back), cii);
        EXPECT_EQ(state.encoding_letter, code) << "the letter of the declaration";
    }
    EXPECT_FALSE(std::filesystem::exists(log.file)) << ReadText(log.file);
}

TEST_F(XmlCiiTest, CiiToXmlEntryPointLogsItsStartLineAndPicksTheDirectionByTheName) {
    Items({{1, 0, 1, 1, "X", 10}});
    const std::pair<const char*, const char*> rows[] = {
        {"a.cii", "a.xml"}, {"b.CII", "b.xml"}, {"c.CIIX", "c.cii"}, {"d.xml", "d.CII"}};
    for (const auto& [input, output] : rows) {
        SCOPED_TRACE(input);
        ClearLog();
        const bool makes_xml = IsCiiFileName(input);
        test::WriteFile(dir / input, makes_xml ? Group(Data("00001", Hex("01 01 41")))
                                               : ToAnsiBytes(test::SjisDocument(HeaderTexts{}.Xml() + "<JPTRM/>")));
        EXPECT_TRUE(XmlCiiConvert(dir / input, dir / output, 12, state, masters, log));
        EXPECT_EQ(LogLines().front(), "0000--K800300 start--00000012");
        const std::string out = ReadText(dir / output);
        EXPECT_EQ(out.rfind("<?xml", 0) == 0, makes_xml) << out.substr(0, 20);
        EXPECT_EQ(out.rfind("0C", 0) == 0, !makes_xml);
    }
}

TEST_F(XmlCiiTest, XmlToCiiEncodesEveryAttributeTagAndGroupForm) {
    struct Row {
        const char* name;
        std::string message;
        const char* area;  // of the one data record
        std::vector<std::string> log = {};
        const char* code16 = "M";
        std::string doctype = "";
    };
    const Row rows[] = {
        {"X text", "<JP00001>ABC</JP00001>", "01 03 41 42 43"},
        {"text trimmed, CDATA read", "<JP00001>\r\n  <![CDATA[A<B]]>  </JP00001>", "01 03 41 3C 42"},
        {"9 zero and Y 000000 write nothing, an empty B its tag and length 0",
         "<JP00002>000</JP00002><JP00003>000000</JP00003><JP00005></JP00005>", "05 00"},
        {"9 in general number form", "<JP00002>-00120.50</JP00002>", "02 06 2D 31 32 30 2E 35"},
        {"Y of five digits gets a zero and the century", "<JP00003>21125</JP00003>", "03 08 32 30 30 32 31 31 32 35"},
        {"Y from 51 on is of the 1900s", "<JP00003>991231</JP00003>", "03 08 31 39 39 39 31 32 33 31"},
        {"B hexadecimal", "<JP00005>05a0</JP00005>", "05 02 05 A0"},
        {"K in Shift-JIS", "<JP00004>漢字</JP00004>", "04 04 8A BF 8E 9A"},
        {"K in JIS by the header's character code", "<JP00004>漢字</JP00004>", "04 04 34 41 3B 7A", {}, "S"},
        {"K in UTF-16 by the header's character code", "<JP00004>漢字</JP00004>", "04 04 6F 22 5B 57", {}, "U"},
        {"group 120 with two occurrences",
         "<JPM120><JPM120R><JP00007>AB</JP00007></JPM120R>\r\n<JPM120R><JP00007>CD</JP00007></JPM120R></JPM120>",
         "F0 FD 00 78 00 07 02 41 42 FB 00 07 02 43 44 FC"},
        {"group 0 in one-byte mode", "<JPM0><JPM0R><JP00012>X</JP00012></JPM0R></JPM0>", "FA 0C 01 58 FC"},
        {"group 1, an empty last occurrence", "<JPM1><JPM1R><JP00014>Q</JP00014></JPM1R><JPM1R/></JPM1>",
         "F0 FA 31 00 0E 01 51 FB FC"},
        {"letter group", "<JPMA><JPMAR><JP00016>Z</JP00016></JPMAR></JPMA>", "F0 FA 41 00 10 01 5A FC"},
        {"239 keeps one byte, 240 switches, later tags take two",
         "<JP00239>abc</JP00239><JP00240>def</JP00240><JP00001>g</JP00001>",
         "EF 03 61 62 63 F0 00 F0 03 64 65 66 00 01 01 67"},
        {"an empty 240 switches all the same", "<JP00240></JP00240><JP00001>g</JP00001>", "F0 00 01 01 67"},
        {"300", "<JP00300>abc</JP00300>", "F0 01 2C 03 61 62 63"},
        {"other elements are not entered", "<FOO><JP00001>A</JP00001></FOO><!-- c --><JP00001>B</JP00001>", "01 01 42"},
        {"empty message", "", ""},
        // Nothing is lost without a line: unknown elements and groups, "B" texts that are not pairs
        // of hexadecimal digits, characters that Shift-JIS cannot hold (here é, written as "?").
        {"elements and groups without master item",
         "<JP00099>x</JP00099><JPM77><JPM77R><JP00001>y</JP00001></JPM77R></JPM77>"
         "<JP00005>0G</JP00005><JP00005>05A</JP00005><JP00001>A&#233;</JP00001>",
         "01 02 41 3F",
         {"0033JP00099", "0034JPM77", "0035項目№=5", "0035項目№=5", "0040項目№=1"}},
        {"internal entities expanded",
         "<JP00001>a&co;b</JP00001><JP00239>&nest;</JP00239>",
         "01 0B 61 41 43 4D 45 20 43 6F 72 70 62 EF 0C 5B 41 43 4D 45 20 43 6F 72 70 41 5D",
         {},
         "M",
         "<!DOCTYPE CII [<!ENTITY co \"ACME Corp\"><!ENTITY nest \"[&co;&#65;]\">]>"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ClearLog();
        const Bytes cii =
            ToCii("<JPTRM SEQ=\"1\">" + r.message + "</JPTRM>", HeaderTexts{}.Set("JPC25", r.code16), r.doctype);
        ASSERT_TRUE(ok);
        ASSERT_EQ(cii.size(), 3u * 251);
        EXPECT_EQ(Sub(cii, 251, 502), Cat({Data("00001", Hex(r.area)), End("00001")}));
        EXPECT_EQ(LogLines(), r.log);
        EXPECT_TRUE(log.ErrorCode.empty()) << "warnings only";
    }
}

TEST_F(XmlCiiTest, XmlToCiiIdenticalFullHeadersKeepOneGroupAndShorterTextsStartNewOnes) {
    const std::string message = "<JPTRM><JP00001>A</JP00001></JPTRM>";
    const HeaderTexts full;
    HeaderTexts shorter;
    shorter.Set("JPC04", "VAN");
    HeaderTexts unknown_mode;
    unknown_mode.Set("JPC23", "Q");
    struct Row {
        const char* name;
        std::string body;
        HeaderTexts header;
        const char* kinds;
    };
    const Row rows[] = {
        {"the document's first header, then messages only", message + full.Xml() + message, full, "0C 9D 9D 0E00002"},
        {"every conversion begins with a header", message, full, "0C 9D 0E00001"},
        {"the count runs over the whole file", message + shorter.Xml() + message, shorter,
         "0C 9D 0E00001 0C 9D 0E00002"},
        {"an unknown storage mode drops messages", message + "<JPTRM/>", unknown_mode, "0C 0E00002"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(Kinds(ToCii(r.body, r.header)), r.kinds);
    }
    test::WriteSjisFile(dir / "a.xml", test::SjisDocument(HeaderTexts{}.Xml() + "<JPTRM/>"));
    ASSERT_TRUE(XmlToCii(dir / "a.xml", dir / "job.CII", state, masters, log));
    ASSERT_TRUE(XmlToCii(dir / "a.xml", dir / "job.CII", state, masters, log));
    EXPECT_EQ(Kinds(ReadFile(dir / "job.CII")), "0C 9D 0E00001 0C 9D 0E00001") << "appended, each counting its own";
}

TEST_F(XmlCiiTest, XmlToCiiPlacesHeaderTextsAndResetsTheUnfedPositions) {
    state.header.body.fill('#');  // what an earlier conversion left
    HeaderTexts header;
    header.Set("JPC03", "").Set("JPC04", "ｶﾅ漢").Set("JPC05", "CENTERSEND012").Set("JPC12", "1");
    const Bytes cii = ToCii("", header);
    ASSERT_EQ(Kinds(cii), "0C 0E00000");
    EXPECT_EQ(Bytes(cii.begin() + 2, cii.begin() + 15), Hex("20 B6 C5 8A BF 20 20 20 20 20 20 20 20"))
        << "an empty JPC03 stores a space";
    EXPECT_EQ(LogLines(), std::vector<std::string>{"0040JPC05"}) << "a text cut at its field's end";
    const std::pair<std::size_t, std::string> fields[] = {{13, "CENTERSEND01"},         {73, "BP00001 "},
                                                          {81, std::string(12, ' ')},   {93, "0101      11"},
                                                          {139, "V10ABCEMAM"},          {149, std::string(11, ' ')},
                                                          {160, "NAG1AG2AG3AG4AG5AG6"}, {179, std::string(70, ' ')}};
    for (const auto& [offset, text] : fields) EXPECT_EQ(Text(Sub(cii, 2 + offset, text.size())), text) << offset;
}

// UTF-16, ISO-2022-JP and Shift_JIS declarations are read by the round trip through every encoding.
TEST_F(XmlCiiTest, XmlToCiiOtherDeclarationsCountAsShiftJisAndNoneKeepsTheLetter) {
    const std::string document = "<R>" + HeaderTexts{}.Xml() + "<JPTRM><JP00004>漢字</JP00004></JPTRM></R>";
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "S", "M"},
        {"<?xml version=\"1.0\"?>", "S", "S"},
        {"", "U", "U"},
    };
    for (const auto& [declaration, before, after] : rows) {
        SCOPED_TRACE(declaration);
        const auto cii = dir / ("enc" + std::to_string(++files) + ".CII");
        test::WriteFile(dir / "enc.xml", declaration + document);
        state.encoding_letter = before;
        ASSERT_TRUE(XmlToCii(dir / "enc.xml", cii, state, masters, log)) << log.ErrorCode;
        EXPECT_EQ(state.encoding_letter, after);
        EXPECT_EQ(Sub(ReadFile(cii), 260, 6), Hex("04 04 8A BF 8E 9A")) << "the K item in Shift-JIS";
    }
}

TEST_F(XmlCiiTest, XmlToCiiUnreadableOrMalformedDocumentsLeaveTheCiiFileAsItWas) {
    const auto cii = dir / "job.CII";
    test::WriteFile(cii, std::string_view("OLD"));
    test::WriteFile(dir / "items.dtd", std::string_view("<!ENTITY d \"from the DTD\">"));
    std::string laughs = "<!DOCTYPE CII [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    laughs += "]>";
    const std::string header = HeaderTexts{}.Xml();
    struct Row {
        const char* name;
        std::string document;  // empty: no such file
        const char* why = "";  // in the log line
    };
    const Row rows[] = {
        {"missing file", ""},
        {"unclosed element after a whole message",
         test::SjisDocument(header + "<JPTRM><JP00001>A</JP00001></JPTRM><JPTRM><JP00001>B</JPTRM>")},
        {"cut off", test::SjisDocument(header).substr(0, 200)},
        {"not XML", std::string("\x00\x01garbage", 9)},
        {"invalid Shift_JIS bytes",
         "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<CII>\r\n<JPTRM>\r\n<JP00001>a\x82\x20"
         "b</JP00001>\r\n</JPTRM>\r\n</CII>\r\n",
         "line 4: encoding error: input conversion failed due to input error, bytes 0x82 0x20"},
        {"external entity used",
         test::SjisDocument(header + "<JPTRM><JP00001>a&ext;b</JP00001></JPTRM>",
                            "<!DOCTYPE CII [<!ENTITY ext SYSTEM \"file:///etc/hostname\">]>"),
         "the document declares the external entity ext: refused"},
        {"external parameter entity",
         test::SjisDocument(header, "<!DOCTYPE CII [<!ENTITY % pe SYSTEM \"items.dtd\"> %pe;]>"),
         "the document declares the external entity %pe: refused"},
        {"entity of a DTD that is never loaded",
         test::SjisDocument(header + "<JPTRM>\r\n<JP00001>&d;</JP00001></JPTRM>",
                            "<!DOCTYPE CII SYSTEM \"items.dtd\">"),
         "line 30: the entity &d; is not declared"},
        {"entities expanding a billion times",
         test::SjisDocument(header + "<JPTRM><JP00001>&l9;</JP00001></JPTRM>", laughs), "entity reference loop"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const auto in = dir / ("bad" + std::to_string(++files) + ".xml");
        if (!r.document.empty()) test::WriteFile(in, r.document);
        ClearLog();
        testing::internal::CaptureStderr();
        EXPECT_FALSE(XmlToCii(in, cii, state, masters, log));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "libxml2 reports go to ERR.LOG only";
        const std::string code = r.document.empty() ? "0031" : "0032";
        EXPECT_EQ(log.ErrorCode, code);
        const auto lines = LogLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].substr(0, 4), code);
        EXPECT_NE(lines[0].find(in.filename().string()), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(r.why), std::string::npos) << lines[0];
        EXPECT_EQ(ReadText(cii), "OLD");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 11)
        << "no temporary file stays behind";
}

TEST_F(XmlCiiTest, XmlToCiiReplaysTheFuzzTargetsSeeds) {
    const auto seeds = test::DataFiles("convert/fuzz-xml");
    EXPECT_GE(seeds.size(), 3u);
    for (const auto& seed : seeds) {
        SCOPED_TRACE(seed.filename().string());
        EXPECT_TRUE(bench::XmlToCiiOnce(ReadFile(seed), dir / "ERR.LOG"));
    }
}

// Blank text inside a value is data wherever it stands; a message read over many chunks keeps
// every occurrence. A damaged document logs the warnings of the records read before the damage:
// a record is read once something follows it, in a chunk of 512 bytes that parsed and started
// an element.
TEST_F(XmlCiiTest, XmlToCiiKeepsBlankTextInValuesAndLogsTheRecordsReadBeforeDamage) {
    std::string many = "<JPM120>";
    std::string many_area = "F0 FD 00 78";
    for (int i = 0; i < 30; ++i) {
        many += "<JPM120R>\r\n  <JP00007>AB</JP00007></JPM120R>\r\n<!--" + std::string(200, '.') + "-->";
        many_area += i == 0 ? " 00 07 02 41 42" : " FB 00 07 02 41 42";
    }
    const std::string unknown = "<JPTRM><JP00099>x</JP00099></JPTRM>";
    const std::string comment = "<!--" + std::string(2000, '.') + "-->";
    const std::string doctype = "<!DOCTYPE CII [<!ELEMENT JP00001 (X*)><!ENTITY q \"Q\">]>";
    // A record whose end tag ends a chunk (four bytes, then 512 a push), damage right after it.
    const std::string before = test::SjisDocument(HeaderTexts{}.Xml() + unknown, doctype);
    const std::size_t end = before.find("</JPTRM>") + 8;
    const std::string at_chunk_end =
        "<JPTRM><JP00099>" + std::string(512 - (end - 4) % 512, 'x') + "x</JP00099></JPTRM><<";
    struct Row {
        const char* name;
        std::string body;
        std::string area;  // of the one data record; empty: the document is refused
        std::vector<std::string> log = {};
    };
    const Row rows[] = {
        {"between CDATA sections", "<JPTRM><JP00001><![CDATA[A]]> <![CDATA[B]]></JP00001></JPTRM>", "01 03 41 20 42"},
        {"after an entity", "<JPTRM><JP00001>&q; &q;</JP00001></JPTRM>", "01 03 51 20 51"},
        {"between comments", "<JPTRM><JP00001>A<!--c--> <!--d-->B</JP00001></JPTRM>", "01 03 41 20 42"},
        {"in element content", "<JPTRM><JP00001><X>A</X> <X>B</X></JP00001></JPTRM>", "01 03 41 20 42"},
        {"30 occurrences over many chunks", "<JPTRM>" + many + "</JPM120></JPTRM>", many_area + " FC"},
        {"damage after a record, in chunks that start no element",
         "<JPTRM><JP00099>" + std::string(600, 'x') + "</JP00099></JPTRM>\r\n" + comment + "<<", "", {"0032"}},
        {"damage right after a record that ends a chunk", at_chunk_end, "", {"0032"}},
        {"damage after a record and an element", unknown + "\r\n<X/>" + comment + "<<", "", {"0033JP00099", "0032"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ClearLog();
        const Bytes cii = ToCii(r.body, HeaderTexts{}, doctype);
        std::vector<std::string> log_codes = LogLines();
        for (std::string& line : log_codes)
            if (line.starts_with("0032")) line.resize(4);
        EXPECT_EQ(log_codes, r.log);
        EXPECT_EQ(ok, !r.area.empty()) << log.ErrorCode;
        if (r.area.empty()) continue;
        ASSERT_EQ(cii.size(), 3u * 251);
        EXPECT_EQ(Sub(cii, 251, 251), Data("00001", Hex(r.area)));
    }
}

}  // namespace
}  // namespace edi
