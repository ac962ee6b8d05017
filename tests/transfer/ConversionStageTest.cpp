#include <gtest/gtest.h>

#include "JobFixture.h"

namespace edi {
namespace {

using test::JobTest;

// Job 1 of center ABC converts what it finds: the CII file itself unless the form is a capital X;
// for X the job's XML files (never another job's or a hidden one) into one CII file first. A
// center of neither the link package nor mail names the folder its XML files are found in.
TEST_F(JobTest, ConversionStageConvertsTheJobsFilesByTheCentersForm) {
    const std::string stem = "00000001_RCV_ABC_________";
    const struct {
        const char* name;
        const char* method;
        std::string path;  // TCX受信ファイルパス
        const char* form;
        std::vector<std::string> files;  // relative to the test folder
        const char* result;
        std::vector<std::string> codes;  // "枝番 処理種別 終了コード 詳細コード" after the job row
        std::vector<std::string> xml;    // XML files converted, in order
        std::string local;               // the local file of kind 01; "<none>" for no file
    } cases[] = {
        {"form C",
         "M",
         Folder("xml"),
         "C",
         {"in/" + stem + ".CII", "xml/" + stem + ".XML"},
         "0000",
         {"1 31 0000 0000"},
         {},
         "cii"},
        {"small x",
         "M",
         Folder("xml"),
         "x",
         {"in/" + stem + ".CII", "xml/" + stem + ".XML"},
         "0000",
         {"1 31 0000 0000"},
         {},
         "cii"},
        {"full-width Ｘ", "M", Folder("xml"), "Ｘ", {"in/" + stem + ".CII"}, "0000", {"1 31 0000 0000"}, {}, "cii"},
        {"folder center, only the job's file in any letter case",
         "F",
         Folder("xml"),
         "X",
         {"xml/" + stem + ".xml", "xml/00000002_RCV_ABC_________.XML"},
         "0000",
         {"1 34 0000 0000", "2 31 0000 0000"},
         {stem + ".xml"},
         "from " + stem + ".xml\n"},
        {"two XML files into one CII file",
         "F",
         Folder("xml"),
         "X",
         {"xml/" + stem + ".XML", "xml/" + stem + "_.XML"},
         "0000",
         {"1 34 0000 0000", "2 34 0000 0000", "3 31 0000 0000"},
         {stem + ".XML", stem + "_.XML"},
         "from " + stem + ".XML\nfrom " + stem + "_.XML\n"},
        {"link center, its file in the receive folder",
         "Z",
         Folder("link") + "abc.xml",
         "X",
         {"in/" + stem + ".XML", "in/." + stem + ".XML.part"},
         "0000",
         {"1 34 0000 0000", "2 31 0000 0000"},
         {stem + ".XML"},
         "from " + stem + ".XML\n"},
        {"mail center, its file in the receive folder",
         "M",
         Folder("xml"),
         "X",
         {"in/" + stem + ".XML", "in/." + stem + ".XML.part"},
         "0000",
         {"1 34 0000 0000", "2 31 0000 0000"},
         {stem + ".XML"},
         "from " + stem + ".XML\n"},
        {"folder without the job's file",
         "F",
         Folder("xml"),
         "X",
         {"xml/00000002_RCV_ABC_________.XML"},
         "9999",
         {},
         {},
         "<none>"},
        {"folder missing", "F", Folder("missing"), "X", {}, "9999", {}, {}, "<none>"},
        {"link center, nothing received", "Z", Folder("link") + "file.xml", "X", {}, "9999", {}, {}, "<none>"},
        {"mail center, nothing received", "M", Folder("xml"), "X", {}, "9999", {}, {}, "<none>"},
        // The converter says 0003; the local row's end code is not the converter's.
        {"no CII file", "Z", Folder("link") + "abc", "C", {}, "9999", {"1 31 0000 0000"}, {}, "<none>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        Center("ABC", c.method, c.path, c.form);
        ASSERT_EQ(OpenJob("ABC"), 1);
        for (const std::string& file : c.files)
            test::WriteFile(dir_ / file, std::string_view(file.ends_with("I") ? "cii" : "<x/>"));
        std::string result;
        runner_->RunConversionStage("ABC", 1, result);
        EXPECT_EQ(result, c.result);
        std::vector<std::string> codes = {"0 03 - -"};
        codes.insert(codes.end(), c.codes.begin(), c.codes.end());
        EXPECT_EQ(Codes(1), codes);
        std::vector<std::string> xml_calls;
        for (const std::string& xml : c.xml) xml_calls.push_back(xml + " -> " + stem + ".CII");
        EXPECT_EQ(converters_.xml_calls, xml_calls);
        EXPECT_EQ(Content("in/" + stem + "01.LOC"), c.local);
        if (c.codes.empty()) continue;
        EXPECT_EQ(converters_.local_calls, std::vector<std::string>{"2 " + stem + ".CII -> " + stem + ".LOC"});
        EXPECT_EQ(HistoryValue(1, static_cast<int>(c.codes.size()), "ファイル名"), Folder("in") + stem + ".CII");
        // An XML row carries the storage mode the XML side just set; BPID comes from the previous
        // CII-to-local conversion, none yet after start.
        if (c.xml.empty()) continue;
        EXPECT_EQ(HistoryValues(1, 1, {"格納モード", "BPID", "ファイル名"}),
                  "M   " + (std::string(c.method) == "F" ? Folder("xml") : Folder("in")) + c.xml[0]);
        EXPECT_EQ(HistoryValue(1, static_cast<int>(c.codes.size()), "格納モード"), "M");
    }
    std::string result;
    runner_->RunConversionStage("NONE", 1, result);
    EXPECT_EQ(result, "9999");
    EXPECT_EQ(History(1).size(), 2u);
}

TEST(ConversionPatternTest, MatchesCaseInsensitivelyAnywhere) {
    const std::string job = "00000012_RCV_ABC_________*.XML";
    const std::tuple<std::string, const char*, bool> cases[] = {
        {job, "00000012_RCV_ABC_________.XML", true},   {job, "00000012_rcv_abc_________.xml", true},
        {job, "x00000012_RCV_ABC_________AXMLz", true}, {job, "00000012_RCV_ABD_________.XML", false},
        {job, "00000013_RCV_ABC_________.XML", false},  {"(", "(", false},
    };
    for (const auto& [pattern, text, match] : cases) EXPECT_EQ(MatchesPattern(pattern, text), match) << text;
    EXPECT_EQ(LocalCenterCode("AB C"), "AB C________");
    EXPECT_EQ(LocalCenterCode("ABCDEFGHIJKLMN"), "ABCDEFGHIJKL");
    EXPECT_EQ(LocalCenterCode("ｾﾝﾀｰ"), "ｾﾝﾀｰ________");
}

}  // namespace
}  // namespace edi
