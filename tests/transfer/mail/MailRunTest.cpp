#include <gtest/gtest.h>

#include <filesystem>

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
        Center("ABC", "M", "", "C", kPartner);
        Partner("ABC", "123456789012");
        AddRow("ABC");
    }
    fs::path Inbox() const { return dir_ / "Maildir"; }
    void Deliver(const std::string& marker, int hour, const std::string& extra_headers = "") {
        const std::string date = "Date: Sat, 5 Dec 2026 " + std::to_string(hour) + ":00:00 +0900\r\n";
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
};

TEST_F(MailRunTest, TwoThenFivePartnerMailsAreRegisteredOnceEachOldestFirst) {
    Deliver("m2", 11);
    Deliver("m1", 10);
    test::DeliverToMaildir(Inbox(), test::MakeMail("someone@else.example", "other", "x.CII", "not ours"));
    RunReport report = Run();
    EXPECT_EQ(report.jobs.size(), 2u);
    EXPECT_TRUE(report.all_well());
    EXPECT_EQ(Registered(1, 2), (std::vector<std::string>{"message m1", "message m2"}));

    for (const int hour : {15, 12, 14, 16, 13}) Deliver("n" + std::to_string(hour), hour);
    report = Run();
    EXPECT_EQ(report.jobs.size(), 5u);
    EXPECT_EQ(Registered(3, 7), (std::vector<std::string>{"message n12", "message n13", "message n14",
                                                          "message n15", "message n16"}));
    EXPECT_EQ(starter_.commands.size(), 7u);
    for (const char* marker : {"m1", "m2", "n12", "n16"}) EXPECT_EQ(test::SeenMail(Inbox(), marker), true) << marker;
    EXPECT_EQ(test::SeenMail(Inbox(), "other"), false);

    // Nothing waits: the center's one job finds no mail, and nothing is registered again.
    report = Run();
    EXPECT_EQ(report.jobs.size(), 1u);
    EXPECT_EQ(starter_.commands.size(), 7u);
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
    test::DeliverToMaildir(
        Inbox(), "Date: Sat, 5 Dec 2026 9:00:00 +0900\r\n" + test::MakeMail(kPartner, "bad", "o.CII", "message bad"));
    const fs::path bad = test::MailsIn(Inbox()).front().file;
    std::string text = test::ReadText(bad);
    text.replace(text.find("bWVzc2FnZSBiYWQ="), 4, "bW*z");
    test::WriteFile(bad, text);
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

}  // namespace
}  // namespace edi
