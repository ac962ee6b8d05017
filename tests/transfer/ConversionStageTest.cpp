#include <gtest/gtest.h>

#include <filesystem>

#include "JobFixture.h"

namespace edi {
namespace {

namespace fs = std::filesystem;
using test::JobTest;

TEST_F(JobTest, ConversionStageConvertsTheCiiFileDirectlyUnlessTheFormIsCapitalX) {
    for (const char* form : {"C", "x", "Ｘ"}) {
        SCOPED_TRACE(form);
        converters_.local_calls.clear();
        converters_.xml_calls.clear();
        Exec("DELETE FROM FL1903EDI制御マスタ");
        Center("ABC", "M", Folder("xml"), form);
        const int serial = OpenJob("ABC");
        test::WriteFile(Folder("in") + test::SerialPartOf(serial) + "_RCV_ABC_________.CII", std::string_view("cii"));
        test::WriteFile(Folder("xml") + test::SerialPartOf(serial) + "_RCV_ABC_________.XML", std::string_view("x"));
        std::string result;
        runner_->RunConversionStage("ABC", serial, result);
        EXPECT_EQ(result, "0000");
        EXPECT_TRUE(converters_.xml_calls.empty());
        ASSERT_EQ(converters_.local_calls.size(), 1u);
        EXPECT_EQ(converters_.local_calls[0], "2 " + test::SerialPartOf(serial) + "_RCV_ABC_________.CII -> " +
                                                  test::SerialPartOf(serial) + "_RCV_ABC_________.LOC");
        const std::vector<std::string> expected = {
            "0 03 - - -", "1 31 0000 0000 " + Folder("in") + test::SerialPartOf(serial) + "_RCV_ABC_________.CII"};
        EXPECT_EQ(History(serial), expected);
    }
}

// A center of neither the link package nor mail names the folder its XML files are found in.
TEST_F(JobTest, ConversionStageConvertsOnlyTheJobsXmlFilesInAnyLetterCase) {
    Center("ABC", "F", Folder("xml"), "X");
    Exec("INSERT INTO FL1102処理履歴ファイル (通番, 枝番) VALUES (11, 0)");
    const int serial = OpenJob("ABC");
    ASSERT_EQ(serial, 12);
    test::WriteFile(Folder("xml") + "00000012_RCV_ABC_________.xml", std::string_view("<a/>"));
    test::WriteFile(Folder("xml") + "00000013_RCV_ABC_________.XML", std::string_view("<b/>"));
    std::string result;
    runner_->RunConversionStage("ABC", serial, result);
    EXPECT_EQ(result, "0000");
    const std::vector<std::string> xml = {"00000012_RCV_ABC_________.xml -> 00000012_RCV_ABC_________.CII"};
    EXPECT_EQ(converters_.xml_calls, xml);
    const std::vector<std::string> rows = {"0 03 - - -",
                                           "1 34 0000 0000 " + Folder("xml") + "00000012_RCV_ABC_________.xml",
                                           "2 31 0000 0000 " + Folder("in") + "00000012_RCV_ABC_________.CII"};
    EXPECT_EQ(History(serial), rows);
    // The XML row carries the storage mode the XML side just set; BPID and kind come from the
    // previous CII-to-local conversion, none yet after start.
    EXPECT_EQ(HistoryValue(12, 1, "格納モード"), "M");
    EXPECT_EQ(HistoryValue(12, 1, "BPID"), " ");
    EXPECT_EQ(HistoryValue(12, 2, "格納モード"), "M");
    EXPECT_EQ(test::ReadText(Folder("in") + "00000012_RCV_ABC_________01.LOC"), "from 00000012_RCV_ABC_________.xml\n");
}

TEST_F(JobTest, TwoXmlFilesGoIntoOneCiiFileWithTwoRowsAndOneLocalRow) {
    Center("ABC", "F", Folder("xml"), "X");
    const int serial = OpenJob("ABC");
    const std::string stem = test::SerialPartOf(serial) + "_RCV_ABC_________";
    test::WriteFile(Folder("xml") + stem + ".XML", std::string_view("<a/>"));
    test::WriteFile(Folder("xml") + stem + "_.XML", std::string_view("<b/>"));
    std::string result;
    runner_->RunConversionStage("ABC", serial, result);
    EXPECT_EQ(result, "0000");
    EXPECT_EQ(converters_.xml_calls.size(), 2u);
    const std::vector<std::string> rows = History(serial);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1].substr(0, 4), "1 34");
    EXPECT_EQ(rows[2].substr(0, 4), "2 34");
    EXPECT_EQ(rows[3].substr(0, 4), "3 31");
    const std::string cii = test::ReadText(Folder("in") + stem + ".CII");
    EXPECT_NE(cii.find("from " + stem + ".XML\n"), std::string::npos);
    EXPECT_NE(cii.find("from " + stem + "_.XML\n"), std::string::npos);
}

TEST_F(JobTest, XmlCenterWithoutItsFileEndsWith9999AndNoRow) {
    struct Case {
        const char* name;
        std::string method;
        std::string folder;
    };
    const Case cases[] = {
        {"folder without the job's file", "F", Folder("xml")},
        {"folder missing", "F", Folder("missing")},
        {"link center, nothing received", "Z", Folder("link") + "file.xml"},
        {"mail center, nothing received", "M", Folder("xml")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Exec("DELETE FROM FL1903EDI制御マスタ");
        Center("ABC", c.method, c.folder, "X");
        const int serial = OpenJob("ABC");
        test::WriteFile(Folder("xml") + test::SerialPartOf(serial + 1) + "_RCV_ABC_________.XML",
                        std::string_view("x"));
        std::string result;
        runner_->RunConversionStage("ABC", serial, result);
        EXPECT_EQ(result, "9999");
        EXPECT_EQ(History(serial).size(), 1u);
    }
    EXPECT_TRUE(converters_.local_calls.empty());
}

TEST_F(JobTest, LinkAndMailXmlCentersFindTheirFileInTheReceiveFolder) {
    for (const char* method : {"Z", "M"}) {
        SCOPED_TRACE(method);
        Exec("DELETE FROM FL1903EDI制御マスタ");
        converters_.xml_calls.clear();
        // The link path names a file; a mail center's path is empty or names some other folder.
        Center("ABC", method, std::string(method) == "Z" ? Folder("link") + "abc.xml" : Folder("xml"), "X");
        const int serial = OpenJob("ABC");
        test::WriteFile(Folder("in") + test::SerialPartOf(serial) + "_RCV_ABC_________.XML", std::string_view("<x/>"));
        test::WriteFile(Folder("in") + "." + test::SerialPartOf(serial) + "_RCV_ABC_________.XML.part",
                        std::string_view("<being written"));
        std::string result;
        runner_->RunConversionStage("ABC", serial, result);
        EXPECT_EQ(result, "0000");
        EXPECT_EQ(converters_.xml_calls.size(), 1u) << "a hidden file is never a received message";
        EXPECT_EQ(History(serial).size(), 3u);
    }
}

TEST_F(JobTest, ConversionStageFailsWhenTheConverterFailsOrTheCenterIsUnknown) {
    Center("ABC", "Z", Folder("link") + "abc", "C");
    const int serial = OpenJob("ABC");
    std::string result;
    runner_->RunConversionStage("ABC", serial, result);  // no CII file: the converter says 0003
    EXPECT_EQ(result, "9999");
    // The local row's end code is not the converter's.
    EXPECT_EQ(HistoryValue(serial, 1, "終了コード"), "0000");
    runner_->RunConversionStage("NONE", serial, result);
    EXPECT_EQ(result, "9999");
    EXPECT_EQ(History(serial).size(), 2u);
}

TEST(ConversionPatternTest, MatchesCaseInsensitivelyAnywhere) {
    struct Case {
        const char* pattern;
        const char* text;
        bool match;
    };
    const Case cases[] = {
        {"00000012_RCV_ABC_________*.XML", "00000012_RCV_ABC_________.XML", true},
        {"00000012_RCV_ABC_________*.XML", "00000012_rcv_abc_________.xml", true},
        {"00000012_RCV_ABC_________*.XML", "x00000012_RCV_ABC_________AXMLz", true},
        {"00000012_RCV_ABC_________*.XML", "00000012_RCV_ABD_________.XML", false},
        {"00000012_RCV_ABC_________*.XML", "00000013_RCV_ABC_________.XML", false},
        {"(", "(", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(MatchesPattern(c.pattern, c.text), c.match);
    }
    EXPECT_EQ(LocalCenterCode("AB C"), "AB C________");
    EXPECT_EQ(LocalCenterCode("ABCDEFGHIJKLMN"), "ABCDEFGHIJKL");
    EXPECT_EQ(LocalCenterCode("ｾﾝﾀｰ"), "ｾﾝﾀｰ________");
}

}  // namespace
}  // namespace edi
