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
    const auto expand = [&](std::string text) {
        for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, stem);
        return text;
    };
    const struct {
        const char* name;
        const char* method;
        const char* path;  // TCX受信ファイルパス, relative to the test folder
        const char* form;
        const char* files;  // relative to the test folder; @ stands for the job's name
        const char* result;
        const char* kinds;  // 処理種別 of the rows after the job row, each ended 0000 0000
        const char* xml;    // XML files converted, in order
        const char* local;  // the local file of kind 01
    } cases[] = {
        {"form C", "M", "xml/", "C", "in/@.CII xml/@.XML", "0000", "31", "", "cii"},
        {"small x", "M", "xml/", "x", "in/@.CII xml/@.XML", "0000", "31", "", "cii"},
        {"full-width Ｘ", "M", "xml/", "Ｘ", "in/@.CII", "0000", "31", "", "cii"},
        {"folder center, the job's file in any case", "F", "xml/", "X", "xml/@.xml xml/00000002_RCV_ABC_________.XML",
         "0000", "34 31", "@.xml", "from @.xml\n"},
        {"two XML files", "F", "xml/", "X", "xml/@.XML xml/@_.XML", "0000", "34 34 31", "@.XML @_.XML",
         "from @.XML\nfrom @_.XML\n"},
        {"link center", "Z", "link/abc.xml", "X", "in/@.XML in/.@.XML.part", "0000", "34 31", "@.XML", "from @.XML\n"},
        {"mail center", "M", "xml/", "X", "in/@.XML in/.@.XML.part", "0000", "34 31", "@.XML", "from @.XML\n"},
        {"folder without the job's file", "F", "xml/", "X", "xml/00000002_RCV_ABC_________.XML", "9999", "", "",
         "<none>"},
        {"folder missing", "F", "missing/", "X", "", "9999", "", "", "<none>"},
        {"link center, nothing received", "Z", "link/file.xml", "X", "", "9999", "", "", "<none>"},
        {"mail center, nothing received", "M", "xml/", "X", "", "9999", "", "", "<none>"},
        // The converter says 0003; the local row's end code is not the converter's.
        {"no CII file", "Z", "link/abc", "C", "", "9999", "31", "", "<none>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        Center("ABC", c.method, dir_.path().string() + "/" + c.path, c.form);
        ASSERT_EQ(OpenJob("ABC"), 1);
        for (const std::string& file : test::Words(expand(c.files))) {
            test::WriteFile(dir_ / file, std::string_view(file.ends_with("I") ? "cii" : "<x/>"));
        }
        std::string result;
        runner_->RunConversionStage("ABC", 1, result);
        EXPECT_EQ(result, c.result);
        std::vector<std::string> codes = {"0 03 - -"}, xml_calls;
        for (const std::string& kind : test::Words(c.kinds)) {
            codes.push_back(std::to_string(codes.size()) + " " + kind + " 0000 0000");
        }
        EXPECT_EQ(Codes(1), codes);
        const std::vector<std::string> xml = test::Words(expand(c.xml));
        for (const std::string& name : xml) xml_calls.push_back(name + " -> " + stem + ".CII");
        EXPECT_EQ(converters_.xml_calls, xml_calls);
        EXPECT_EQ(Content("in/" + stem + "01.LOC"), expand(c.local));
        if (codes.size() == 1) continue;
        EXPECT_EQ(converters_.local_calls, std::vector<std::string>{"2 " + stem + ".CII -> " + stem + ".LOC"});
        EXPECT_EQ(HistoryValue(1, static_cast<int>(codes.size() - 1), "ファイル名"), Folder("in") + stem + ".CII");
        // An XML row carries the storage mode the XML side just set; BPID comes from the previous
        // CII-to-local conversion, none yet after start.
        if (xml_calls.empty()) continue;
        EXPECT_EQ(HistoryValues(1, 1, {"格納モード", "BPID", "ファイル名"}),
                  "M   " + (std::string(c.method) == "F" ? Folder("xml") : Folder("in")) + xml[0]);
        EXPECT_EQ(HistoryValue(1, static_cast<int>(codes.size() - 1), "格納モード"), "M");
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
