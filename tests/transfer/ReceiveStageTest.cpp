#include <gtest/gtest.h>

#include <filesystem>

#include "JobFixture.h"
#include "transfer/FileMove.h"

namespace edi {
namespace {

namespace fs = std::filesystem;
using test::JobTest;

TEST_F(JobTest, ReceiveStageTakesOverTheLinkPackageFileOrRecordsWhyNot) {
    const struct {
        const char* name;
        test::CenterRow center;  // its link path is relative to the link folder unless blank
        bool file_there;
        bool earlier_file;   // a file of the same name already in the receive folder
        const char* codes;   // 終了コード 詳細コード of the receive row
        const char* stored;  // the name the row records after the serial
        bool arrives;
    } cases[] = {
        {"full-width x gives XML",
         {"ABC", "Z", "abc.dat", "ｘ"},
         true,
         false,
         "0000 0000",
         "_RCV_ABC_________.XML",
         true},
        {"C gives CII", {"C1", "Z", "c1.dat", "C"}, true, false, "0000 0000", "_RCV_C1__________.CII", true},
        {"an earlier file of the same name is replaced",
         {"C2", "Z", "c2.dat", "C"},
         true,
         true,
         "0000 0000",
         "_RCV_C2__________.CII",
         true},
        {"E is no kind", {"E1", "Z", "e1.dat", "E"}, true, false, "5001 9999", "", false},
        {"file not there", {"M1", "Z", "m1.dat", "C"}, false, false, "5001 9999", "", false},
        {"blank path", {"B1", "Z", "   ", "C"}, false, false, "6101 0000", "", false},
        {"twelve characters",
         {"AB CD EFGHIJ", "Z", "twelve.dat", "c"},
         true,
         false,
         "0000 0000",
         "_RCV_AB_CD_EFGHIJ.CII",
         true},
        {"no transfer method", {"N1", "Q", "n1.dat", "C"}, true, false, "0000 0000", "", false},
        {"mail without partner address", {"MA", "M", "", "C"}, false, false, "5100 9999", "", false},
        {"no partner center row",
         {"OTHER", "Z", "x", "C", "", "1"},
         false,
         false,
         "7002 0000",
         "_RCV_OTHER_______.Err",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::CenterRow center = c.center;
        if (center.link_path.find_first_not_of(' ') != std::string::npos)
            center.link_path = Folder("link") + center.link_path;
        Exec(test::CenterSql(center));
        if (c.file_there) test::WriteFile(center.link_path, std::string_view("partner bytes"));
        const int serial = OpenJob(center.code);
        const std::string stored = *c.stored == '\0' ? "" : Folder("in") + test::SerialPartOf(serial) + c.stored;
        if (c.earlier_file) test::WriteFile(stored, std::string_view("an older and longer file"));
        std::string result = "x";
        runner_->RunReceiveStage(center.code, serial, result);
        EXPECT_EQ(result, "0000");
        ASSERT_EQ(History(serial).size(), 2u);
        EXPECT_EQ(HistoryValues(serial, 1, {"処理種別", "終了コード", "詳細コード"}), std::string("10 ") + c.codes);
        if (!stored.empty()) {
            EXPECT_EQ(HistoryValue(serial, 1, "ファイル名"), stored);
            EXPECT_EQ(test::ReadText(stored), c.arrives ? "partner bytes" : "");
        }
        // A failed take-over leaves the file in place.
        EXPECT_EQ(fs::exists(center.link_path), c.file_there && (!c.arrives || center.method != "Z"));
    }
}

TEST_F(JobTest, ReceiveStageStoresThePartnersMailAttachment) {
    Center("MC", "M", Folder("in"), "x", "orders@partner.example");
    for (const char* sub : {"tmp", "cur", "new"}) fs::create_directories(dir_ / "Maildir" / sub);
    // The attachment is "PARTNER DATA" in base64.
    test::WriteFile(dir_ / "Maildir" / "new" / "1.test.localhost",
                    std::string_view("From: orders@partner.example\r\nTo: edi@example.com\r\nSubject: x\r\n"
                                     "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                                     "--b\r\nContent-Type: text/plain\r\n\r\nsee file\r\n--b\r\n"
                                     "Content-Type: application/octet-stream; name=\"a.xml\"\r\n"
                                     "Content-Disposition: attachment; filename=\"a.xml\"\r\n"
                                     "Content-Transfer-Encoding: base64\r\n\r\nUEFSVE5FUiBEQVRB\r\n--b--\r\n"));
    const int serial = OpenJob("MC");
    std::string result;
    runner_->RunReceiveStage("MC", serial, result);
    EXPECT_EQ(result, "0000");
    EXPECT_EQ(HistoryValue(serial, 1, "終了コード"), "5100") << "the letter x is not a mail data kind";
    Exec("UPDATE FL1903EDI制御マスタ SET 送受信データ形式 = 'X'");
    runner_->RunReceiveStage("MC", serial, result);
    EXPECT_EQ(HistoryValue(serial, 2, "終了コード"), "0000");
    EXPECT_EQ(test::ReadText(Folder("in") + test::SerialPartOf(serial) + "_RCV_MC__________.XML"), "PARTNER DATA");
    EXPECT_FALSE(progress_.lines().empty());
}

TEST_F(JobTest, MoveTransferFileSendsACopyAndKeepsTheSource) {
    test::WriteFile(Folder("out") + "00000012_SND_ABC_________.CII", std::string_view("to send"));
    for (const std::string direction : {"S", "ｓ", "R", "X"}) {
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

}  // namespace
}  // namespace edi
