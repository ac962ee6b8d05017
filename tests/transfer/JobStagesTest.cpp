#include <cstdint>

#include "JobFixture.h"
#include "transfer/FileMove.h"

namespace edi {
namespace {

namespace fs = std::filesystem;
using test::JobTest;

// A file arrives when its row ends 0000 0000 with a name; it replaces an earlier file of that name.
TEST_F(JobTest, ReceiveStageTakesOverTheLinkPackageFileOrRecordsWhyNot) {
    // The case, the center (its link path relative to the link folder unless blank), whether the file
    // is there, 終了コード 詳細コード of the receive row and the name the row records after the serial.
    const std::tuple<const char*, test::CenterRow, bool, std::string, std::string> cases[] = {
        {"full-width x gives XML", {"ABC", "Z", "abc.dat", "ｘ"}, true, "0000 0000", "_RCV_ABC_________.XML"},
        {"E is no kind", {"E1", "Z", "e1.dat", "E"}, true, "5001 9999", ""},
        {"file not there", {"M1", "Z", "m1.dat", "C"}, false, "5001 9999", ""},
        {"blank path", {"B1", "Z", "   ", "C"}, false, "6101 0000", ""},
        {"twelve characters", {"AB CD EFGHIJ", "Z", "twelve.dat", "c"}, true, "0000 0000", "_RCV_AB_CD_EFGHIJ.CII"},
        {"no transfer method", {"N1", "Q", "n1.dat", "C"}, true, "0000 0000", ""},
        {"mail without partner address", {"MA", "M", "", "C"}, false, "5100 9999", ""},
        {"no partner center row", {"OTHER", "Z", "x", "C", "", "1"}, false, "7002 0000", "_RCV_OTHER_______.Err"},
    };
    for (const auto& [name, row, file_there, codes, name_part] : cases) {
        SCOPED_TRACE(name);
        test::CenterRow center = row;
        if (center.link_path.find_first_not_of(' ') != std::string::npos)
            center.link_path = Folder("link") + center.link_path;
        Exec(test::CenterSql(center));
        if (file_there) test::WriteFile(center.link_path, std::string_view("partner bytes"));
        const int serial = OpenJob(center.code);
        const std::string stored = name_part.empty() ? "" : Folder("in") + SerialPart(serial) + name_part;
        const bool arrives = !stored.empty() && codes == "0000 0000";
        if (arrives) test::WriteFile(stored, std::string_view("an older and longer file"));
        std::string result = "x";
        runner_->RunReceiveStage(center.code, serial, result);
        EXPECT_EQ(result, "0000");
        EXPECT_EQ(Codes(serial), (std::vector<std::string>{"0 03 - -", "1 10 " + codes}));
        if (!stored.empty()) {
            EXPECT_EQ(HistoryValue(serial, 1, "ファイル名"), stored);
            EXPECT_EQ(test::ReadText(stored), arrives ? "partner bytes" : "");
        }
        // A failed take-over leaves the file in place.
        EXPECT_EQ(fs::exists(center.link_path), file_there && !arrives);
    }
}

TEST_F(JobTest, MoveTransferFileSendsACopyAndKeepsTheSource) {
    test::WriteFile(Folder("out") + "00000012_SND_ABC_________.CII", std::string_view("to send"));
    for (const std::string direction : {"S", "ｓ", "R"}) {
        SCOPED_TRACE(direction);
        FileMoveRequest request;
        request.CenterCode = "ABC";
        request.Serial = 12;
        request.Direction = direction;
        request.DataKind = "C";
        request.LinkPath = Folder("link") + "sent.cii";
        fs::remove(request.LinkPath);
        MoveTransferFile(work_, request);
        const bool send = direction == "S" || direction == "ｓ";
        EXPECT_EQ(request.Result, send ? "0000" : "9999");
        EXPECT_EQ(fs::exists(request.LinkPath), send);
        EXPECT_TRUE(fs::exists(Folder("out") + "00000012_SND_ABC_________.CII"));
    }
}

// Job 1 of center ABC converts what it finds: the CII file itself unless the form is a capital X;
// for X the job's XML files (never another job's or a hidden one) into one CII file first. A
// center of neither the link package nor mail names the folder its XML files are found in.
TEST_F(JobTest, ConversionStageConvertsTheJobsFilesByTheCentersForm) {
    const std::string stem = "00000001_RCV_ABC_________";
    const auto expand = [&](std::string text) {
        for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, stem);
        return text;
    };
    // The case; the center's method, TCX受信ファイルパス (relative to the test folder) and form; the
    // files there (relative to the test folder; @ stands for the job's name); the stage's result;
    // 処理種別 of the rows after the job row, each ended 0000 0000; the XML files converted, in
    // order; and the local file of kind 01.
    using Row = std::tuple<const char*, std::string, const char*, const char*, const char*, const char*, const char*,
                           const char*, const char*>;
    const Row cases[] = {
        {"small x", "M", "xml/", "x", "in/@.CII xml/@.XML", "0000", "31", "", "cii"},
        {"full-width Ｘ", "M", "xml/", "Ｘ", "in/@.CII", "0000", "31", "", "cii"},
        {"folder center, the job's file in any case", "F", "xml/", "X", "xml/@.xml xml/00000002_RCV_ABC_________.XML",
         "0000", "34 31", "@.xml", "from @.xml\n"},
        {"two XML files", "F", "xml/", "X", "xml/@.XML xml/@_.XML", "0000", "34 34 31", "@.XML @_.XML",
         "from @.XML\nfrom @_.XML\n"},
        {"link center", "Z", "link/abc.xml", "X", "in/@.XML in/.@.XML.part", "0000", "34 31", "@.XML", "from @.XML\n"},
        {"folder without the job's file", "F", "xml/", "X", "xml/00000002_RCV_ABC_________.XML", "9999", "", "",
         "<none>"},
        {"folder missing", "F", "missing/", "X", "", "9999", "", "", "<none>"},
        {"link center, nothing received", "Z", "link/file.xml", "X", "", "9999", "", "", "<none>"},
        // The converter says 0003; the local row's end code is not the converter's.
        {"no CII file", "Z", "link/abc", "C", "", "9999", "31", "", "<none>"},
    };
    for (const auto& [name, method, path, form, files, stage_result, kinds, converted, local] : cases) {
        SCOPED_TRACE(name);
        Reset();
        Center("ABC", method, dir_.path().string() + "/" + path, form);
        ASSERT_EQ(OpenJob("ABC"), 1);
        for (const std::string& file : test::Words(expand(files))) {
            test::WriteFile(dir_ / file, std::string_view(file.ends_with("I") ? "cii" : "<x/>"));
        }
        std::string result;
        runner_->RunConversionStage("ABC", 1, result);
        EXPECT_EQ(result, stage_result);
        std::vector<std::string> codes = {"0 03 - -"}, xml_calls;
        for (const std::string& kind : test::Words(kinds)) {
            codes.push_back(std::to_string(codes.size()) + " " + kind + " 0000 0000");
        }
        EXPECT_EQ(Codes(1), codes);
        const std::vector<std::string> xml = test::Words(expand(converted));
        for (const std::string& name : xml) xml_calls.push_back(name + " -> " + stem + ".CII");
        EXPECT_EQ(converters_.xml_calls, xml_calls);
        EXPECT_EQ(Content("in/" + stem + "01.LOC"), expand(local));
        if (codes.size() == 1) continue;
        EXPECT_EQ(converters_.local_calls, std::vector<std::string>{"2 " + stem + ".CII -> " + stem + ".LOC"});
        EXPECT_EQ(HistoryValue(1, static_cast<int>(codes.size() - 1), "ファイル名"), Folder("in") + stem + ".CII");
        // An XML row carries the storage mode the XML side just set; BPID comes from the previous
        // CII-to-local conversion, none yet after start.
        if (xml_calls.empty()) continue;
        EXPECT_EQ(HistoryValues(1, 1, {"格納モード", "BPID", "ファイル名"}),
                  "M   " + (method == "F" ? Folder("xml") : Folder("in")) + xml[0]);
        EXPECT_EQ(HistoryValue(1, static_cast<int>(codes.size() - 1), "格納モード"), "M");
    }
    std::string result;
    runner_->RunConversionStage("NONE", 1, result);
    EXPECT_EQ(result, "9999");
    EXPECT_EQ(History(1).size(), 2u);
}

// The parts of a job's file names, and the patterns its files are found by.
TEST(FileNamingTest, PartsOfTheJobsFileNamesAndTheirPatterns) {
    const std::string job = "00000012_RCV_ABC_________*.XML";
    const std::tuple<std::string, const char*, bool> patterns[] = {
        {job, "00000012_RCV_ABC_________.XML", true},   {job, "00000012_rcv_abc_________.xml", true},
        {job, "x00000012_RCV_ABC_________AXMLz", true}, {job, "00000012_RCV_ABD_________.XML", false},
        {job, "00000013_RCV_ABC_________.XML", false},  {"(", "(", false},
    };
    for (const auto& [pattern, text, match] : patterns) EXPECT_EQ(MatchesPattern(pattern, text), match) << text;
    EXPECT_EQ(LocalCenterCode("AB C"), "AB C________");
    EXPECT_EQ(LocalCenterCode("ABCDEFGHIJKLMN"), "ABCDEFGHIJKL");
    EXPECT_EQ(LocalCenterCode("ｾﾝﾀｰ"), "ｾﾝﾀｰ________");

    const std::pair<std::int64_t, const char*> serials[] = {
        {12, "00000012"}, {99999999, "99999999"}, {123456789, "123456789"}, {-12, "-00000012"}};
    for (const auto& [serial, part] : serials) EXPECT_EQ(SerialPart(serial), part) << serial;

    const std::pair<const char*, const char*> centers[] = {
        {"ABC", "ABC_________"},
        {"", "____________"},
        {"A B", "A_B_________"},
        {"ABCDEFGHIJ K", "ABCDEFGHIJ_K"},      // exactly 12: used as it stands
        {"ABCDEFGHIJKLMN", "ABCDEFGHIJKLMN"},  // longer: kept whole, never cut
        {"ＡＢ", "ＡＢ__________"},            // characters are counted, not bytes
    };
    for (const auto& [code, part] : centers) EXPECT_EQ(FileCenterCode(code), part) << code;

    // The data kind takes both widths and cases.
    const std::pair<const char*, const char*> kinds[] = {
        {"C", "CII"}, {"c", "CII"},   {"Ｃ", "CII"}, {"ｃ", "CII"},  {"  C ", "CII"}, {" ｃ", "CII"},
        {"X", "XML"}, {"x", "XML"},   {"Ｘ", "XML"}, {"ｘ", "XML"},  {"X  ", "XML"},  {"E", "Err"},
        {"", "Err"},  {"   ", "Err"}, {"CX", "Err"}, {"CII", "Err"}, {"　C", "Err"},  {"Ｅ", "Err"},
    };
    for (const auto& [letter, kind] : kinds) EXPECT_EQ(DataKindOf(letter), kind) << "[" << letter << "]";

    // A folder and a name get one separator.
    const std::pair<const char*, const char*> folders[] = {
        {"/edi/in/", "/edi/in/f.CII"}, {"/edi/in", "/edi/in/f.CII"}, {"", "f.CII"}, {"/", "/f.CII"}};
    for (const auto& [folder, path] : folders) EXPECT_EQ(PathInFolder(folder, "f.CII"), path) << folder;
}

}  // namespace
}  // namespace edi
