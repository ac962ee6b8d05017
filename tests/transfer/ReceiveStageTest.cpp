#include <gtest/gtest.h>

#include <filesystem>

#include "JobFixture.h"
#include "transfer/FileMove.h"

namespace edi {
namespace {

namespace fs = std::filesystem;
using test::JobTest;

TEST_F(JobTest, ReceiveStageTakesOverTheLinkPackageFileOrRecordsWhyNot) {
    struct Case {
        const char* name;
        const char* code;
        const char* method;
        const char* link;  // relative to the link folder; "" stores an empty path
        const char* form;
        bool file_there;
        const char* end_code;
        const char* detail_code;
        const char* received;  // expected name in the receive folder, "" when nothing arrives
    };
    const Case cases[] = {
        {"full-width x gives XML", "ABC", "Z", "abc.dat", "ｘ", true, "0000", "0000", "_RCV_ABC_________.XML"},
        {"C gives CII", "C1", "Z", "c1.dat", "C", true, "0000", "0000", "_RCV_C1__________.CII"},
        {"E is no kind", "E1", "Z", "e1.dat", "E", true, "5001", "9999", ""},
        {"file not there", "M1", "Z", "m1.dat", "C", false, "5001", "9999", ""},
        {"blank path", "B1", "Z", "   ", "C", false, "6101", "0000", ""},
        {"twelve characters", "AB CD EFGHIJ", "Z", "twelve.dat", "c", true, "0000", "0000", "_RCV_AB_CD_EFGHIJ.CII"},
        {"no transfer method", "N1", "Q", "n1.dat", "C", true, "0000", "0000", ""},
        {"mail without partner address", "MA", "M", "", "C", false, "5100", "9999", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string link = std::string(c.link).find_first_not_of(' ') == std::string::npos
                                     ? std::string(c.link)
                                     : Folder("link") + c.link;
        Center(c.code, c.method, link, c.form);
        if (c.file_there) test::WriteFile(link, std::string_view("partner bytes"));
        const int serial = OpenJob(c.code);
        std::string result = "x";
        runner_->RunReceiveStage(c.code, serial, result);
        EXPECT_EQ(result, "0000");
        ASSERT_EQ(History(serial).size(), 2u);
        EXPECT_EQ(HistoryValue(serial, 1, "処理種別"), "10");
        EXPECT_EQ(HistoryValue(serial, 1, "終了コード"), c.end_code);
        EXPECT_EQ(HistoryValue(serial, 1, "詳細コード"), c.detail_code);
        if (*c.received != '\0') {
            const fs::path received = fs::path(Folder("in")) / (test::SerialPartOf(serial) + c.received);
            EXPECT_EQ(test::ReadText(received), "partner bytes");
            EXPECT_FALSE(fs::exists(link));
            EXPECT_EQ(HistoryValue(serial, 1, "ファイル名"), received.string());
        } else if (c.file_there && std::string(c.method) == "Z") {
            EXPECT_EQ(test::ReadText(link), "partner bytes") << "a failed take-over leaves the file in place";
        }
    }
}

TEST_F(JobTest, ReceiveStageReplacesAnEarlierFileOfTheSameName) {
    Center("ABC", "Z", Folder("link") + "abc.dat", "C");
    const int serial = OpenJob("ABC");
    const fs::path destination = fs::path(Folder("in")) / (test::SerialPartOf(serial) + "_RCV_ABC_________.CII");
    test::WriteFile(destination, std::string_view("an older and longer file"));
    test::WriteFile(Folder("link") + "abc.dat", std::string_view("new"));
    std::string result;
    runner_->RunReceiveStage("ABC", serial, result);
    EXPECT_EQ(result, "0000");
    EXPECT_EQ(test::ReadText(destination), "new");
}

TEST_F(JobTest, ReceiveStageStoresThePartnersMailAttachment) {
    Center("MC", "M", Folder("in"), "x", "orders@partner.example");
    fs::create_directories(dir_ / "Maildir" / "tmp");
    fs::create_directories(dir_ / "Maildir" / "cur");
    fs::create_directories(dir_ / "Maildir" / "new");
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

TEST_F(JobTest, ReceiveStageWithoutCenterRowRecords7002) {
    Center("OTHER", "Z", Folder("link") + "x", "C");
    Exec("UPDATE FL1903EDI制御マスタ SET 相手先種別 = '1'");
    const int serial = OpenJob("OTHER");
    std::string result;
    runner_->RunReceiveStage("OTHER", serial, result);
    EXPECT_EQ(result, "0000");
    EXPECT_EQ(HistoryValue(serial, 1, "終了コード"), "7002");
    EXPECT_EQ(HistoryValue(serial, 1, "ファイル名"),
              Folder("in") + test::SerialPartOf(serial) + "_RCV_OTHER_______.Err");
}

TEST_F(JobTest, MoveTransferFileSendsACopyAndKeepsTheSource) {
    test::WriteFile(Folder("out") + "00000012_SND_ABC_________.CII", std::string_view("to send"));
    for (const char* direction : {"S", "ｓ", "R", "X"}) {
        SCOPED_TRACE(direction);
        FileMoveRequest request;
        request.CenterCode = "ABC";
        request.Serial = 12;
        request.Direction = direction;
        request.DataKind = "C";
        request.LinkPath = Folder("link") + "sent.cii";
        fs::remove(request.LinkPath);
        MoveTransferFile(work_, request);
        const bool send = std::string(direction) == "S" || std::string(direction) == "ｓ";
        EXPECT_EQ(request.Result, send ? "0000" : "9999");
        EXPECT_EQ(fs::exists(request.LinkPath), send);
        EXPECT_TRUE(fs::exists(Folder("out") + "00000012_SND_ABC_________.CII"));
    }
}

}  // namespace
}  // namespace edi
