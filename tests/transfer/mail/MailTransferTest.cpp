#include <array>
#include <regex>
#include <tuple>

#include "MailFixtures.h"

namespace edi {
namespace {

namespace fs = std::filesystem;
using test::kPartner;
using test::MakeMail;

// Attachment bytes with Shift-JIS text, CR LF, a NUL and a high byte.
const std::string kCiiBytes = std::string("UNB\x82\xa0\x82\xa2\r\nEND", 13) + std::string(1, '\0') + "\xff";

class MailTransferTest : public test::MailTransferFixture {};

TEST_F(MailTransferTest, BadRequestFailsTheCheckAndFetchesNothing) {
    test::DeliverToMaildir(DefaultInbox(), MakeMail(kPartner, "m1", "a.CII", kCiiBytes));
    // Direction, data kind, center and address: letters only as given, nothing empty.
    const std::array<const char*, 4> rows[] = {{"R", "x", "ABC", kPartner}, {"R", "E", "ABC", kPartner},
                                               {"r", "C", "ABC", kPartner}, {"Ｒ", "C", "ABC", kPartner},
                                               {"R", "C", "", kPartner},    {"R", "C", "ABC", ""}};
    for (const auto& [direction, kind, center, address] : rows) {
        SCOPED_TRACE(std::string(direction) + " " + kind + " " + center + " " + address);
        MailRequest request = Request(direction, kind);
        request.CenterCode = center;
        request.MailAddress = address;
        EXPECT_EQ(MailTransport::CheckMailRequest(request), 99);
        EXPECT_EQ(Run(request), 9);
        EXPECT_EQ(request.Result, "9999");
        EXPECT_EQ(progress_.events(), (std::vector<std::string>{"<clear>", "<show>", "<close>"}));
        EXPECT_TRUE(boxes_.shown().empty()) << Shown();
        EXPECT_TRUE(fs::is_empty(dir_ / "in")) << "nothing received";
        EXPECT_EQ(test::SeenMail(DefaultInbox(), "m1"), false);
    }
    EXPECT_EQ(MailTransport::CheckMailRequest(Request("R", "C")), 0);
    EXPECT_EQ(MailTransport::CheckMailRequest(Request("S", "X")), 0);
}

TEST_F(MailTransferTest, ReadsSettingsIntoSixtyFourByteBuffers) {
    // What is read: profile, mail text, store and timeout.
    using Read = std::tuple<std::string, std::string, std::string, int>;
    const std::string default_store = "maildir://" + (dir_.path().lexically_normal() / "Maildir").string();
    const std::string long_name(70, 'p');
    const std::tuple<const char*, std::string, Read> rows[] = {
        {"backslash n is CR LF", "[MAIL]\r\nMAIL-TEXT=line1\\nline2\r\n", {"", "line1\r\nline2", default_store, 20}},
        {"other escapes stay", "[MAIL]\r\nMAIL-TEXT=a\\tb\\\\nc\\\r\n", {"", "a\\tb\\\r\nc\\", default_store, 20}},
        {"Japanese body", "[MAIL]\r\nMAIL-TEXT=送信します\\n以上\r\n", {"", "送信します\r\n以上", default_store, 20}},
        {"63 bytes kept",
         "[MAPI]\r\nProfileName=" + long_name + "\r\n",
         {long_name.substr(0, 63), "", default_store, 20}},
        {"store and timeout",
         "[MAPI]\r\nStore=imap://mail.example.com:143\r\nTimeout=5\r\n",
         {"", "", "imap://mail.example.com:143", 5}},
        {"bad timeout", "[MAPI]\r\nTimeout=soon\r\n", {"", "", default_store, 20}},
    };
    for (const auto& [name, ini, read] : rows) {
        test::WriteSjisFile(dir_ / "EDI.ini", ini);
        MailTransport transport(work_, progress_, boxes_, clock_);
        transport.ReadMailSettings();
        const MailSettings& s = transport.settings();
        EXPECT_EQ(Read(s.ProfileName, s.MailText, s.Store, s.TimeoutSeconds), read) << name;
    }
}

TEST_F(MailTransferTest, ReceivesFromTheMaildirBesideTheIni) {
    test::DeliverToMaildir(DefaultInbox(), MakeMail(kPartner, "partner", "p.CII", kCiiBytes));
    test::WriteFile(Received("CII"), std::string_view("old file"));

    RunWell(Request("R", "C"));
    EXPECT_EQ(test::ReadText(Received("CII")), kCiiBytes);
    EXPECT_EQ(progress_.events(),
              (std::vector<std::string>{"<clear>", "<show>", "パラメータチェック", "INIファイル読込み", "受信処理開始",
                                        "ログオン", "受信トレイ検索", "添付ファイル格納", "ログオフ", "<close>"}));
    EXPECT_EQ(test::SeenMail(DefaultInbox(), "partner"), true);
}

TEST(SendFilePatternTest, PicksTheJobsFilesCaseIgnored) {
    // The data kind's letter, the center, a file name and whether it is one of job 12's.
    const std::tuple<const char*, const char*, const char*, bool> rows[] = {
        {"C", "ABC", "00000012_SND_ABC_________.CII", true},
        {"C", "ABC", "00000012_snd_abc_________.cii", true},
        {"C", "ABC", "copy of 00000012_SND_ABC_________.CII.bak", true},
        {"C", "ABC", "00000012_SND_ABC_________.XML", false},
        {"C", "ABC", "00000013_SND_ABC_________.CII", false},
        {"C", "ABC", "00000012_RCV_ABC_________.CII", false},
        {"C", "ABC", "00000012_SND_ABC________.CII", false},
        {"X", "ABC", "00000012_SND_ABC_________0001.XML", true},
        {"X", "ABC", "00000012_SND_ABC_________9999_xml", true},
        {"X", "ABC", "00000012_SND_ABC_________001.XML", false},
        {"X", "ABC", "00000012_SND_ABC_________.XML", false},
        {"C", "A+B", "00000012_SND_A+B_________.CII", true},
        {"C", "A+B", "00000012_SND_AAB_________.CII", false},
    };
    for (const auto& [letter, center, name, matches] : rows) {
        const std::regex pattern(SendFilePattern(12, center, letter), std::regex::icase);
        EXPECT_EQ(std::regex_search(name, pattern), matches) << name;
    }
}

TEST_F(MailTransferTest, SendWithoutMatchingFileLogsNoOneOn) {
    // Both services are unreachable: any logon would fail with a message.
    WriteIni("ProfileName=edi\r\n" + ImapStore(servers_.Port("refused")) +
             "Transport=smtp://127.0.0.1:" + std::to_string(servers_.Port("refused")) + "\r\n");
    test::WriteFile(dir_ / "out" / "00000012_SND_ABC_________.XML", std::string_view("x"));
    test::WriteFile(dir_ / "out" / "00000013_SND_ABC_________.CII", std::string_view("x"));
    test::WriteFile(dir_ / "out" / "00000012_SND_ABD_________.CII", std::string_view("x"));

    RunWell(Request("S", "C"));
    EXPECT_EQ(progress_.events(),
              (std::vector<std::string>{"<clear>", "<show>", "パラメータチェック", "INIファイル読込み", "送信処理開始",
                                        "送信添付ファイルなし", "<close>"}));
}

TEST_F(MailTransferTest, SendDeliversOneMailWithSubjectBodyAndAttachment) {
    const std::string partner = Unique() + "@example.com";
    WriteIni("ProfileName=edi@example.com\r\nTransport=smtp://127.0.0.1:" + std::to_string(servers_.Port("smtp")) +
             "\r\nTimeout=10\r\n");
    const fs::path file = dir_ / "out" / "00000012_SND_ABC_________.CII";
    test::WriteFile(file, kCiiBytes);

    MailRequest request = Request("S", "C");
    request.MailAddress = partner;
    RunWell(request);
    EXPECT_EQ(progress_.lines(),
              (std::vector<std::string>{"パラメータチェック", "INIファイル読込み", "送信処理開始", "ログオン",
                                        "メッセージを作成", "Pi_Rec.Pi_相手先メールアドレス", partner,
                                        "受信者オブジェクトの作成", "添付ファイル作成", "送信", "ログオフ"}));

    const std::vector<test::ReceivedMail> mails = test::MailsTo(servers_.Path("smtp_maildir"), partner);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].subject, "EDIデータ2026/12/05 10:20:30送信");
    // The line break travels as the mail's own line end.
    std::string body = mails[0].body;
    std::erase(body, '\r');
    EXPECT_EQ(body.substr(0, 12), "line1\nline2");
    EXPECT_EQ(mails[0].attachments,
              (std::vector<std::pair<std::string, std::string>>{{"00000012_SND_ABC_________.CII", kCiiBytes}}));
    EXPECT_EQ(test::ReadText(file), kCiiBytes);  // the source stays
}

TEST_F(MailTransferTest, SendmailTransportGetsTheMailOnItsInput) {
    const fs::path sendmail = dir_ / "sendmail";
    test::WriteFile(sendmail, std::string_view("#!/bin/sh\necho \"$@\" > \"$0.args\"\ncat > \"$0.mail\"\n"));
    fs::permissions(sendmail, fs::perms::owner_all);
    WriteIni("ProfileName=edi@example.com\r\nTransport=sendmail://" + sendmail.string() + "\r\n");
    test::WriteFile(dir_ / "out" / "00000012_SND_ABC_________0001.XML", std::string_view("<x/>"));

    RunWell(Request("S", "X"));
    EXPECT_NE(test::ReadText(dir_ / "sendmail.args").find(kPartner), std::string::npos);
    const std::string mail = test::ReadText(dir_ / "sendmail.mail");
    EXPECT_NE(mail.find("00000012_SND_ABC_________0001.XML"), std::string::npos);
    EXPECT_NE(mail.find(std::string("To: ") + kPartner), std::string::npos);
}

TEST_F(MailTransferTest, UnreachableOrRefusingServiceGives9999AndTheErrorMessage) {
    const std::string user = "edi-failure";
    test::ResetImapUser(servers_, user);
    test::DeliverToImap(servers_, user, MakeMail(kPartner, "waiting", "w.CII", "W"));
    test::WriteFile(dir_ / "out" / "00000012_SND_ABC_________.CII", std::string_view("S"));
    const std::string smtp = "Transport=smtp://127.0.0.1:";
    struct Row {
        const char* name;
        std::string mapi;
        const char* direction;
        const char* message_start;
        const char* cause = "";  // what the message must also name
        int timeout = 15;        // the server's own delay after a failed login must fit in
    };
    test::WriteFile(dir_ / "file", std::string_view("not a folder"));
    const Row rows[] = {
        {"wrong password", "ProfileName=" + user + "\r\nPassword=wrong\r\n" + ImapStore(servers_.Port("imap")), "R",
         "Error 32003: Login has failed", "server answered: a002 NO [AUTHENTICATIONFAILED]"},
        {"Maildir that cannot be made", "Store=maildir://" + (dir_ / "file" / "Maildir").string() + "\r\n", "R",
         "Error 32003: Login has failed", "/file/Maildir/new cannot be made: Not a directory"},
        {"stopped IMAP server", "ProfileName=" + user + "\r\nPassword=secret\r\n" + ImapStore(servers_.Port("refused")),
         "R", "Error 32023: Network failure"},
        {"silent IMAP server", "ProfileName=" + user + "\r\nPassword=secret\r\n" + ImapStore(servers_.Port("silent")),
         "R", "Error 32023: Network failure", "", 2},
        {"unknown kind of store", "Store=pop3://127.0.0.1:110\r\n", "R", "Error 32003: Login has failed"},
        {"wrong password on send", "ProfileName=" + user + "\r\nPassword=wrong\r\n" + ImapStore(servers_.Port("imap")),
         "S", "Error 32003: Login has failed", "server answered"},
        {"wrong password for SMTP",
         "Transport=smtp://edi-send@localhost:" + std::to_string(servers_.Port("starttls")) + "\r\nPassword=wrong\r\n" +
             CaFile(),
         "S", "Error 32003: Login has failed", "server answered: 535"},
        {"stopped SMTP server", smtp + std::to_string(servers_.Port("refused")) + "\r\n", "S",
         "Error 32023: Network failure"},
        {"silent SMTP server", smtp + std::to_string(servers_.Port("silent")) + "\r\n", "S",
         "Error 32023: Network failure", "", 2},
        {"no transport", "", "S", "Error 32002: Unspecified failure"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteIni(row.mapi + "Timeout=" + std::to_string(row.timeout) + "\r\n");
        MailRequest request = Request(row.direction, "C");
        EXPECT_EQ(Run(request), 9);
        EXPECT_EQ(request.Result, "9999");
        ASSERT_EQ(boxes_.shown().size(), 1u);
        EXPECT_EQ(boxes_.shown()[0].text.rfind(row.message_start, 0), 0u) << boxes_.shown()[0].text;
        EXPECT_NE(boxes_.shown()[0].text.find(row.cause), std::string::npos) << boxes_.shown()[0].text;
        ASSERT_FALSE(progress_.events().empty());
        EXPECT_EQ(progress_.events().back(), "<close>");
        EXPECT_EQ(std::count(progress_.lines().begin(), progress_.lines().end(), "ログオフ"), 0);
        EXPECT_FALSE(fs::exists(Received("CII")));
    }
    EXPECT_EQ(test::SeenMail(servers_.Path("imap_mail") / user, "waiting"), false);
}

}  // namespace
}  // namespace edi
