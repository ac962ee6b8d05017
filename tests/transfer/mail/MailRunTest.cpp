#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "JobFixture.h"
#include "MailFixtures.h"
#include "transfer/JobOutcome.h"
#include "transfer/MailReceipt.h"
#include "transfer/MailService.h"
#include "transfer/ReceiveRun.h"

namespace edi {
namespace {

namespace fs = std::filesystem;

const char* const kPartner = "orders@partner.example";

// A mail center on the Maildir beside EDI.ini, its jobs run as the window and the runner run them.
class MailRunTest : public test::JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        servers_ = test::LoadMailServers();
        ASSERT_TRUE(servers_.loaded) << "mail servers are not running";
        Center("ABC", "M", "", "C", kPartner);
        Partner("ABC", "123456789012");
        AddRow("ABC");
    }
    fs::path Inbox() const { return dir_ / "Maildir"; }
    void Deliver(const std::string& marker, int hour, const std::string& extra_headers = "",
                 const char* zone = "+0900") {
        const std::string date = "Date: Sat, 5 Dec 2026 " + std::to_string(hour) + ":00:00 " + zone + "\r\n";
        test::DeliverToMaildir(Inbox(),
                               date + extra_headers + test::MakeMail(kPartner, marker, "o.CII", "message " + marker));
    }
    RunReport Run() {
        work_.Centers[0].RowState = kRowWaiting;
        return ReceiveRun(work_, *runner_, stop_).Run(WaitingMarkedRows(work_));
    }
    // What the registration got, job by job: the local file of each job that registered.
    std::vector<std::string> Registered(int first, int last) {
        std::vector<std::string> texts;
        for (int serial = first; serial <= last; ++serial) {
            const fs::path local = dir_ / "in" / (test::SerialPartOf(serial) + "_RCV_ABC_________01.LOC");
            if (fs::exists(local)) texts.push_back(test::ReadText(local));
        }
        return texts;
    }

    std::atomic<bool> stop_{false};
    test::MailServers servers_;
};

TEST_F(MailRunTest, PartnerMailsAreRegisteredOnceEachOldestFirst) {
    Deliver("m2", 10, "", "+0000");
    Deliver("m1", 17);  // written later in its own zone, yet the older of the two
    Deliver("m3", 11, "", "+0000");
    test::DeliverToMaildir(Inbox(), test::MakeMail("someone@else.example", "other", "x.CII", "not ours"));
    RunReport report = Run();
    EXPECT_EQ(report.jobs.size(), 3u);
    EXPECT_TRUE(report.all_well());
    EXPECT_EQ(Registered(1, 3), (std::vector<std::string>{"message m1", "message m2", "message m3"}));
    for (const char* marker : {"m1", "m2", "m3"}) EXPECT_EQ(test::SeenMail(Inbox(), marker), true) << marker;
    EXPECT_EQ(test::SeenMail(Inbox(), "other"), false);

    // Nothing waits: the center's one job finds no mail, and nothing is registered again.
    report = Run();
    EXPECT_EQ(report.jobs.size(), 1u);
    EXPECT_EQ(starter_.commands.size(), 3u);
}

TEST_F(MailRunTest, AMailWhoseAttachmentCannotBeStoredStaysUnreadAndTheNextRunTakesIt) {
    Deliver("m1", 10);
    // Where job 1 would write the attachment, a folder is in the way.
    fs::create_directories(dir_ / "in" / ".00000001_RCV_ABC_________.CII.mail-part");
    RunReport report = Run();
    ASSERT_EQ(report.jobs.size(), 1u);
    EXPECT_EQ(HistoryValue(1, 1, "終了コード"), "5100");
    EXPECT_EQ(test::SeenMail(Inbox(), "m1"), false);
    ASSERT_FALSE(boxes_.shown().empty());
    EXPECT_EQ(boxes_.shown().back().text.rfind("Error 32013", 0), 0u) << boxes_.shown().back().text;

    report = Run();
    EXPECT_EQ(HistoryValue(2, 1, "終了コード"), "0000");
    EXPECT_EQ(Registered(1, 2), std::vector<std::string>{"message m1"});
    EXPECT_EQ(test::SeenMail(Inbox(), "m1"), true);
}

// The attachment was stored whole but the run ended before the mail was marked read.
TEST_F(MailRunTest, AStoredMailNotYetMarkedReadIsRegisteredOnceAndMarkedByTheNextReceive) {
    const struct {
        const char* name;
        bool by_store_id;
    } cases[] = {{"receipt names the store's id", true}, {"receipt names the Message-ID", false}};
    int serial = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Deliver(c.name, 10, std::string("Message-ID: <") + (c.by_store_id ? "a" : "b") + "@partner.example>\r\n");
        MailServiceConfig config;
        config.store = "maildir://" + Inbox().string();
        std::unique_ptr<MailSession> session;
        ASSERT_FALSE(MailSession::Logon(config, session).failed());
        std::vector<FetchedMail> mails;
        ASSERT_FALSE(session->FetchUnreadMails(mails).failed());
        ASSERT_EQ(mails.size(), 1u);
        session->Logoff();
        FetchedMail receipt = mails[0];
        (c.by_store_id ? receipt.message_id : receipt.uid).clear();

        serial = OpenJob("ABC");
        HistoryStart receive = ReceiveHistoryStart(serial, kKindTransfer, "ABC");
        OpenStageHistory(work_, receive, clock_);
        const std::string stored = Folder("in") + test::SerialPartOf(serial) + "_RCV_ABC_________.CII";
        test::WriteFile(stored, std::string_view(std::string("message ") + c.name));
        ASSERT_TRUE(WriteReceipt(ReceiptPath(stored), receipt));
        const std::size_t starts = starter_.commands.size();

        const RunReport report = Run();
        ASSERT_EQ(report.jobs.size(), 2u);
        EXPECT_TRUE(report.jobs[0].carried_on);
        EXPECT_TRUE(report.jobs[0].outcome.ok());
        EXPECT_EQ(starter_.commands.size(), starts + 1) << "registered once, by the carried-on job";
        EXPECT_EQ(test::SeenMail(Inbox(), c.name), true);
        EXPECT_FALSE(fs::exists(ReceiptPath(stored)));
        EXPECT_EQ(HistoryValue(serial + 1, 1, "終了コード"), "0000") << "the new job took no mail";
        EXPECT_EQ(Registered(serial, serial + 1), std::vector<std::string>{std::string("message ") + c.name});
    }
}

TEST_F(MailRunTest, APartnerMailThatCannotBeStoredGetsOneJobPerRunAndLetsTheNextMailsThrough) {
    // The oldest partner mail's attachment is damaged base64.
    test::DeliverToMaildir(Inbox(),
                           "Date: Sat, 5 Dec 2026 9:00:00 +0900\r\n" +
                               test::MultipartMail(kPartner, "bad", test::AttachmentPart("o.CII", "bW*zc2FnZSBiYWQ=")));
    Deliver("m1", 10);
    Deliver("m2", 11);

    RunReport report = Run();
    ASSERT_EQ(report.jobs.size(), 3u);
    EXPECT_EQ(HistoryValue(1, 1, "終了コード"), "5100");
    EXPECT_EQ(HistoryValue(1, 1, "詳細コード"), "5102");
    EXPECT_EQ(OutcomeText(report.jobs[0].outcome).rfind("5100/5102 ", 0), 0u) << OutcomeText(report.jobs[0].outcome);
    EXPECT_EQ(Registered(1, 3), (std::vector<std::string>{"message m1", "message m2"}));
    EXPECT_EQ(test::SeenMail(Inbox(), "bad"), false);

    // Every run gives it its row again, and takes nothing twice.
    report = Run();
    ASSERT_EQ(report.jobs.size(), 1u);
    EXPECT_EQ(HistoryValue(4, 1, "詳細コード"), "5102");
    EXPECT_EQ(starter_.commands.size(), 2u);
}

// Which mail is the partner's and what of it is stored: the receive stage over both stores,
// one row per kind of mail, checked in the history, the receive folder and the mailbox.
class MailReceiveRulesTest : public MailRunTest {};

const std::string kData = "UNB\x82\xa0 order 4711";
const std::string kDataBase64 = "VU5CgqAgb3JkZXIgNDcxMQ==";

TEST_F(MailReceiveRulesTest, OnlyAWholeAttachmentOfThePartnersMailIsStoredAndMarkedRead) {
    const std::string good = test::AttachmentPart("o.CII", kDataBase64);
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
        {"good mail", test::MultipartMail(kPartner, "m", good), "", true, "0000", "0000", ""},
        {"inline parts only",
         test::MultipartMail(kPartner, "m",
                             "--b\r\nContent-Type: text/html\r\nContent-Disposition: inline\r\n\r\n<p>x</p>\r\n"),
         "", false, "5100", "5101", "5101mail: a mail of orders@partner.example is not stored"},
        {"damaged base64",
         test::MultipartMail(kPartner, "m", test::AttachmentPart("o.CII", "VU5CgqAgb3J*ZXIgNDcxMQ==")), "", false,
         "5100", "5102", "is not base64"},
        {"partner address as display name",
         test::MultipartMail(kPartner + std::string(" <attacker@evil.example>"), "m", good), "", false, "0000", "0000",
         "5103mail: not taken as the partner's"},
        {"AuthServId set, no results of that server", test::MultipartMail(kPartner, "m", good),
         "AuthServId=mx.site.example\r\n", false, "0000", "0000", "no Authentication-Results of mx.site.example"},
        {"AuthServId set, dkim=pass for the partner",
         test::MultipartMail("Partner Orders <" + std::string(kPartner) + ">", "m", good, results),
         "AuthServId=mx.site.example\r\n", true, "0000", "0000", ""},
    };
    Center("MC", "M", "", "C", kPartner);
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
                inbox = servers_.Path("imap_mail") / "edi-rules";
                keys += "ProfileName=edi-rules\r\nPassword=secret\r\nStore=imaps://localhost:" +
                        std::to_string(servers_.Port("imaps")) +
                        "\r\nCAFile=" + (servers_.Path("pki") / "ca.pem").string() + "\r\n";
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
