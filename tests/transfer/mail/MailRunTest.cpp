#include <tuple>

#include "MailFixtures.h"
#include "transfer/JobOutcome.h"
#include "transfer/MailReceipt.h"
#include "transfer/MailService.h"

namespace edi {
namespace {

namespace fs = std::filesystem;

using test::kPartner;

// A mail center on the Maildir beside EDI.ini, its jobs run as the window and the runner run them.
class MailRunTest : public test::MailTransferFixture {
protected:
    void SetUp() override {
        MailTransferFixture::SetUp();
        JobTest::WriteIni();  // the job's EDI.ini, whose mail profile is "edi"
        Center("ABC", "M", "", "C", kPartner);
        Partner("ABC", "123456789012");
        AddRow("ABC");
    }
    void Deliver(const std::string& marker, int hour, const std::string& extra_headers = "",
                 const char* zone = "+0900") {
        const std::string date = "Date: Sat, 5 Dec 2026 " + std::to_string(hour) + ":00:00 " + zone + "\r\n";
        test::DeliverToMaildir(DefaultInbox(),
                               date + extra_headers + test::MakeMail(kPartner, marker, "o.CII", "message " + marker));
    }
    RunReport Run() {
        work_.Centers[0].RowState = kRowWaiting;
        return RunRows(WaitingMarkedRows(work_));
    }
    // What the registration got, job by job: the local file of each job that registered.
    std::vector<std::string> Registered(int first, int last) {
        std::vector<std::string> texts;
        for (int serial = first; serial <= last; ++serial) {
            const fs::path local = dir_ / "in" / (SerialPart(serial) + "_RCV_ABC_________01.LOC");
            if (fs::exists(local)) texts.push_back(test::ReadText(local));
        }
        return texts;
    }
};

TEST_F(MailRunTest, PartnerMailsAreRegisteredOnceEachOldestFirst) {
    Deliver("m2", 10, "", "+0000");
    Deliver("m1", 17);  // written later in its own zone, yet the older of the two
    Deliver("m3", 11, "", "+0000");
    test::DeliverToMaildir(DefaultInbox(), test::MakeMail("someone@else.example", "other", "x.CII", "not ours"));
    RunReport report = Run();
    EXPECT_EQ(report.jobs.size(), 3u);
    EXPECT_TRUE(report.all_well());
    EXPECT_EQ(Registered(1, 3), (std::vector<std::string>{"message m1", "message m2", "message m3"}));
    for (const char* marker : {"m1", "m2", "m3"}) EXPECT_EQ(test::SeenMail(DefaultInbox(), marker), true) << marker;
    EXPECT_EQ(test::SeenMail(DefaultInbox(), "other"), false);

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
    EXPECT_EQ(test::SeenMail(DefaultInbox(), "m1"), false);
    ASSERT_FALSE(boxes_.shown().empty());
    EXPECT_EQ(boxes_.shown().back().text.rfind("Error 32013", 0), 0u) << boxes_.shown().back().text;

    report = Run();
    EXPECT_EQ(HistoryValue(2, 1, "終了コード"), "0000");
    EXPECT_EQ(Registered(1, 2), std::vector<std::string>{"message m1"});
    EXPECT_EQ(test::SeenMail(DefaultInbox(), "m1"), true);
}

// The attachment was stored whole but the run ended before the mail was marked read.
TEST_F(MailRunTest, AStoredMailNotYetMarkedReadIsRegisteredOnceAndMarkedByTheNextReceive) {
    for (const bool by_store_id : {true, false}) {
        const std::string name = by_store_id ? "receipt names the store's id" : "receipt names the Message-ID";
        SCOPED_TRACE(name);
        Deliver(name, 10, std::string("Message-ID: <") + (by_store_id ? "a" : "b") + "@partner.example>\r\n");
        MailServiceConfig config;
        config.store = "maildir://" + DefaultInbox().string();
        std::unique_ptr<MailSession> session;
        ASSERT_FALSE(MailSession::Logon(config, session).failed());
        std::vector<FetchedMail> mails;
        ASSERT_FALSE(session->FetchUnreadMails(mails).failed());
        ASSERT_EQ(mails.size(), 1u);
        session->Logoff();
        FetchedMail receipt = mails[0];
        (by_store_id ? receipt.message_id : receipt.uid).clear();

        const int serial = OpenJob("ABC");
        HistoryStart receive = ReceiveHistoryStart(serial, kKindTransfer, "ABC");
        OpenStageHistory(work_, receive, clock_);
        const std::string stored = Folder("in") + SerialPart(serial) + "_RCV_ABC_________.CII";
        test::WriteFile(stored, std::string_view("message " + name));
        ASSERT_TRUE(WriteReceipt(ReceiptPath(stored), receipt));
        const std::size_t starts = starter_.commands.size();

        const RunReport report = Run();
        ASSERT_EQ(report.jobs.size(), 2u);
        EXPECT_TRUE(report.jobs[0].carried_on);
        EXPECT_TRUE(report.jobs[0].outcome.ok());
        EXPECT_EQ(starter_.commands.size(), starts + 1) << "registered once, by the carried-on job";
        EXPECT_EQ(test::SeenMail(DefaultInbox(), name), true);
        EXPECT_FALSE(fs::exists(ReceiptPath(stored)));
        EXPECT_EQ(HistoryValue(serial + 1, 1, "終了コード"), "0000") << "the new job took no mail";
        EXPECT_EQ(Registered(serial, serial + 1), std::vector<std::string>{"message " + name});
    }
}

TEST_F(MailRunTest, APartnerMailThatCannotBeStoredGetsOneJobPerRunAndLetsTheNextMailsThrough) {
    // The oldest partner mail's attachment is damaged base64.
    test::DeliverToMaildir(DefaultInbox(),
                           "Date: Sat, 5 Dec 2026 9:00:00 +0900\r\n" +
                               test::MultipartMail(kPartner, "bad", test::AttachmentPart("o.CII", "bW*zc2FnZSBiYWQ=")));
    Deliver("m1", 10);
    Deliver("m2", 11);

    RunReport report = Run();
    ASSERT_EQ(report.jobs.size(), 3u);
    EXPECT_EQ(HistoryValues(1, 1, {"終了コード", "詳細コード"}), "5100 5102");
    EXPECT_EQ(OutcomeText(report.jobs[0].outcome).rfind("5100/5102 ", 0), 0u) << OutcomeText(report.jobs[0].outcome);
    EXPECT_EQ(Registered(1, 3), (std::vector<std::string>{"message m1", "message m2"}));
    EXPECT_EQ(test::SeenMail(DefaultInbox(), "bad"), false);

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
    // The case, the mail, more [MAPI] keys, whether the attachment is stored, 終了コード 詳細コード of
    // the receive row, and the ERR.LOG line that says why ("" none).
    const std::tuple<const char*, std::string, std::string, bool, const char*, const char*> rows[] = {
        {"good mail", test::MultipartMail(kPartner, "m", good), "", true, "0000 0000", ""},
        {"inline parts only",
         test::MultipartMail(kPartner, "m",
                             "--b\r\nContent-Type: text/html\r\nContent-Disposition: inline\r\n\r\n<p>x</p>\r\n"),
         "", false, "5100 5101", "5101mail: a mail of orders@partner.example is not stored"},
        {"damaged base64",
         test::MultipartMail(kPartner, "m", test::AttachmentPart("o.CII", "VU5CgqAgb3J*ZXIgNDcxMQ==")), "", false,
         "5100 5102", "is not base64"},
        {"partner address as display name",
         test::MultipartMail(kPartner + std::string(" <attacker@evil.example>"), "m", good), "", false, "0000 0000",
         "5103mail: not taken as the partner's"},
        {"AuthServId set, no results of that server", test::MultipartMail(kPartner, "m", good),
         "AuthServId=mx.site.example\r\n", false, "0000 0000", "no Authentication-Results of mx.site.example"},
        {"AuthServId set, dkim=pass for the partner",
         test::MultipartMail("Partner Orders <" + std::string(kPartner) + ">", "m", good, results),
         "AuthServId=mx.site.example\r\n", true, "0000 0000", ""},
    };
    Center("MC", "M", "", "C", kPartner);
    std::string ini = test::ReadText(dir_ / "EDI.ini");
    ini.erase(ini.find("ProfileName=edi\r\n"), 17);  // each store names its own user
    for (const char* store : {"maildir", "imap"}) {
        for (const auto& [name, mail, more_keys, stored, codes, why] : rows) {
            SCOPED_TRACE(std::string(store) + ": " + name);
            fs::path inbox = DefaultInbox();
            std::string keys = more_keys;
            fs::remove_all(inbox);
            if (std::string(store) == "imap") {
                test::ResetImapUser(servers_, "edi-rules");
                test::DeliverToImap(servers_, "edi-rules", mail);
                inbox = servers_.Path("imap_mail") / "edi-rules";
                keys += "ProfileName=edi-rules\r\nPassword=secret\r\nStore=imaps://localhost:" +
                        std::to_string(servers_.Port("imaps")) + "\r\n" + CaFile();
            } else {
                test::DeliverToMaildir(inbox, mail);
            }
            test::WriteFile(dir_ / "EDI.ini", ini + keys);
            fs::remove(work_.Log.file);

            runner_->ForgetPassedOverMails();  // each row is a run of its own
            const int serial = OpenJob("MC");
            std::string result;
            runner_->RunReceiveStage("MC", serial, result);
            EXPECT_EQ(result, "0000");
            EXPECT_EQ(HistoryValues(serial, 1, {"終了コード", "詳細コード"}), codes);
            const std::string received = "in/" + SerialPart(serial) + "_RCV_MC__________.CII";
            EXPECT_EQ(Content(received), stored ? kData : "<none>");
            EXPECT_EQ(test::SeenMail(inbox, "m"), stored) << "read exactly when stored";
            const std::string log = test::ReadText(work_.Log.file);
            EXPECT_EQ(log.empty(), *why == '\0') << log;
            EXPECT_NE(log.find(why), std::string::npos) << log;
            // Nothing half-written stays behind.
            EXPECT_EQ(std::distance(fs::directory_iterator(Folder("in")), {}), stored ? 1 : 0);
            fs::remove(dir_ / received);
        }
    }
}

}  // namespace
}  // namespace edi
