// Which mail is the partner's and what of it is stored: the receive stage over both stores,
// one row per kind of mail, checked in the history, the receive folder and the mailbox.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "MailFixtures.h"
#include "transfer/JobFixture.h"

namespace edi {
namespace {

namespace fs = std::filesystem;

const char* const kOrders = "orders@partner.example";
const std::string kData = "UNB\x82\xa0 order 4711";
const std::string kDataBase64 = "VU5CgqAgb3JkZXIgNDcxMQ==";

// A mail from `from` with the given MIME body parts after its text part.
std::string Mail(const std::string& from, const std::string& marker, const std::string& parts,
                 const std::string& extra_header = "") {
    return "From: " + from + "\r\nTo: edi@site.example\r\nSubject: mail " + marker + "\r\n" + extra_header +
           "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
           "Content-Type: text/plain\r\nContent-Disposition: inline\r\n\r\nsee the file\r\n" +
           parts + "--b--\r\n";
}

std::string Attachment(const std::string& base64) {
    return "--b\r\nContent-Type: application/octet-stream; name=\"o.CII\"\r\nContent-Disposition: attachment; "
           "filename=\"o.CII\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
           base64 + "\r\n";
}

class MailReceiveRulesTest : public test::JobTest {
protected:
    void SetUp() override {
        test::JobTest::SetUp();
        servers_ = test::LoadMailServers();
    }
    test::MailServers servers_;
};

TEST_F(MailReceiveRulesTest, OnlyAWholeAttachmentOfThePartnersMailIsStoredAndMarkedRead) {
    ASSERT_TRUE(servers_.loaded) << "mail servers are not running";
    const std::string good = Attachment(kDataBase64);
    const std::string results = "Authentication-Results: mx.site.example; dkim=pass header.d=partner.example\r\n";
    struct Row {
        const char* name;
        std::string mail;
        std::string keys;  // more [MAPI] keys
        bool stored;
        const char* end_code;
        const char* detail_code;
        const char* log;  // the ERR.LOG line that says why, "" none
    };
    const Row rows[] = {
        {"good mail", Mail(kOrders, "m", good), "", true, "0000", "0000", ""},
        {"inline parts only",
         Mail(kOrders, "m", "--b\r\nContent-Type: text/html\r\nContent-Disposition: inline\r\n\r\n<p>x</p>\r\n"), "",
         false, "5100", "5101", "5101mail: a mail of orders@partner.example is not stored"},
        {"damaged base64", Mail(kOrders, "m", Attachment("VU5CgqAgb3J*ZXIgNDcxMQ==")), "", false, "5100", "5102",
         "is not base64"},
        {"partner address as display name", Mail(kOrders + std::string(" <attacker@evil.example>"), "m", good), "",
         false, "0000", "0000", "5103mail: not taken as the partner's"},
        {"two From addresses, the partner's first", Mail(kOrders + std::string(", attacker@evil.example"), "m", good),
         "", false, "0000", "0000", "From names 2 mailboxes"},
        {"AuthServId set, no results of that server", Mail(kOrders, "m", good), "AuthServId=mx.site.example\r\n", false,
         "0000", "0000", "no Authentication-Results of mx.site.example"},
        {"AuthServId set, dkim=pass for the partner", Mail(kOrders, "m", good, results),
         "AuthServId=mx.site.example\r\n", true, "0000", "0000", ""},
    };
    Center("MC", "M", "", "C", kOrders);
    std::string ini = test::ReadText(dir_ / "EDI.ini");
    ini.erase(ini.find("ProfileName=edi\r\n"), 17);  // each store names its own user
    for (const char* store : {"maildir", "imap"}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(store) + ": " + row.name);
            fs::path inbox = dir_ / "Maildir";
            std::string keys = row.keys;
            fs::remove_all(inbox);
            if (std::string(store) == "imap") {
                test::ResetImapUser(servers_, "edi-rules");
                test::DeliverToImap(servers_, "edi-rules", row.mail);
                inbox = servers_.imap_mail / "edi-rules";
                keys += "ProfileName=edi-rules\r\nPassword=secret\r\nStore=imaps://localhost:" +
                        std::to_string(servers_.imaps_port) + "\r\nCAFile=" + (servers_.pki / "ca.pem").string() +
                        "\r\n";
            } else {
                test::DeliverToMaildir(inbox, row.mail);
            }
            test::WriteFile(dir_ / "EDI.ini", ini + keys);
            fs::remove(work_.Log.file);

            runner_->ForgetPassedOverMails();  // each row is a run of its own
            const int serial = OpenJob("MC");
            std::string result;
            runner_->RunReceiveStage("MC", serial, result);
            EXPECT_EQ(result, "0000");
            EXPECT_EQ(HistoryValue(serial, 1, "終了コード"), row.end_code);
            EXPECT_EQ(HistoryValue(serial, 1, "詳細コード"), row.detail_code);
            const fs::path received = Folder("in") + test::SerialPartOf(serial) + "_RCV_MC__________.CII";
            EXPECT_EQ(fs::exists(received), row.stored);
            if (row.stored) {
                EXPECT_EQ(test::ReadText(received), kData);
            }
            EXPECT_EQ(test::SeenMail(inbox, "m"), row.stored) << "read exactly when stored";
            const std::string log = test::ReadText(work_.Log.file);
            EXPECT_EQ(log.empty(), *row.log == '\0') << log;
            EXPECT_NE(log.find(row.log), std::string::npos) << log;
            // Nothing half-written stays behind.
            EXPECT_EQ(std::distance(fs::directory_iterator(Folder("in")), {}), row.stored ? 1 : 0);
            fs::remove(received);
        }
    }
}

}  // namespace
}  // namespace edi
