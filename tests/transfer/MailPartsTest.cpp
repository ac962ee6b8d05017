#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/TestSupport.h"
#include "transfer/MailAttachment.h"
#include "transfer/MailInbox.h"
#include "transfer/MailSender.h"

namespace edi {
namespace {

namespace fs = std::filesystem;

class StringSink final : public AttachmentSink {
public:
    bool Write(const char* data, std::size_t size) override {
        bytes.append(data, size);
        return true;
    }
    bool Restart() override {
        bytes.clear();
        return true;
    }
    std::string bytes;
};

// A mail of a text part and the given parts, each "headers\r\n\r\nbody".
std::string Mixed(const std::vector<std::string>& parts, const std::string& eol = "\r\n") {
    std::string mail = "From: partner@example.com" + eol + "Content-Type: multipart/mixed; boundary=\"b 1\"" + eol +
                       eol + "preamble" + eol + "--b 1" + eol + "Content-Type: text/plain" + eol + eol + "hello" + eol;
    for (const std::string& part : parts) mail += "--b 1" + eol + part + eol;
    return mail + "--b 1--" + eol + "epilogue" + eol;
}

TEST(MailAttachmentTest, TakesTheAttachmentPartAndUndoesItsEncodingStrictly) {
    const std::string cii("UNB\x82\xa0\r\nEND\0\xff\n", 13);
    const std::string b64 = "VU5CgqANCkVORAD/Cg==";  // cii in base64
    const std::string att =
        "Content-Type: application/octet-stream\r\nContent-Disposition: attachment; "
        "filename=\"a.CII\"\r\nContent-Transfer-Encoding: ";
    using enum AttachmentStatus;
    struct Row {
        const char* name;
        std::string mail;
        AttachmentStatus status;
        std::string bytes;  // stored when complete
        const char* detail = "";
    };
    const Row rows[] = {
        {"base64 attachment", Mixed({att + "base64\r\n\r\nVU5CgqAN\r\nCkVORAD/\r\nCg=="}), kComplete, cii},
        {"LF line ends as a store keeps them",
         Mixed({"Content-Disposition: attachment\nContent-Transfer-Encoding: "
                "base64\n\n" +
                b64},
               "\n"),
         kComplete, cii},
        {"inline parts only",
         Mixed({"Content-Type: text/html\r\nContent-Disposition: inline; filename=x.html\r\n\r\n<p>hi</p>"}), kNone, "",
         "no part is an attachment"},
        {"no MIME at all", "From: partner@example.com\r\n\r\nUNB body text\r\n", kNone, ""},
        {"damaged base64", Mixed({att + "base64\r\n\r\nVU5CgqAN\r\nCk*ORAD/\r\nCg=="}), kDamaged, "",
         "character 0x2A '*' at byte 12 is not base64"},
        {"base64 cut inside a group", Mixed({att + "base64\r\n\r\nVU5CgqANCkVORAD/Cg="}), kDamaged, "",
         "ends inside a group"},
        {"base64 text after the padding", Mixed({att + "base64\r\n\r\n" + b64 + "QUJD"}), kDamaged, "",
         "after the padding"},
        {"quoted-printable", Mixed({att + "quoted-printable\r\n\r\nUNB=82=a0  \r\nEND=00=FF=\r\n=0A"}), kComplete, cii},
        {"damaged quoted-printable", Mixed({att + "quoted-printable\r\n\r\nUNB=8G"}), kDamaged, "", "non-hex"},
        {"unknown encoding", Mixed({att + "x-uuencode\r\n\r\nbegin 644 a"}), kDamaged, "",
         "unknown transfer encoding x-uuencode"},
        {"8bit kept byte for byte", Mixed({att + "8bit\r\n\r\n" + std::string(cii, 0, 12)}), kComplete,
         std::string(cii, 0, 12)},
        {"named non-text part without disposition",
         Mixed({"Content-Type: application/xml; name=\"o.XML\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + b64}),
         kComplete, cii},
        {"an attachment part wins over a named one",
         Mixed({"Content-Type: image/png; name=logo.png\r\n\r\nPNG", att + "base64\r\n\r\n" + b64}), kComplete, cii},
        {"the first attachment part is taken", Mixed({att + "base64\r\n\r\n" + b64, att + "7bit\r\n\r\nsecond"}),
         kComplete, cii},
        {"nested multipart, lines that only look like boundaries",
         "Content-Type: multipart/mixed; boundary=out\r\n\r\n--out\r\nContent-Type: multipart/alternative; "
         "boundary=in\r\n\r\n--in\r\n\r\ntext\r\n--in\r\nContent-Type: text/html\r\n\r\n<p/>\r\n--in--\r\n--out\r\n" +
             att + "7bit\r\n\r\n--outer\r\n--in\r\n--out-x\r\n--out--\r\n",
         kComplete, "--outer\r\n--in\r\n--out-x"},
        {"single-part attachment", "Content-Disposition: attachment\r\nContent-Transfer-Encoding: base64\r\n\r\n" + b64,
         kComplete, cii},
        {"mail cut inside the attachment",
         "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n" + att + "base64\r\n\r\n" + b64 + "\r\n", kDamaged,
         "", "closing boundary"},
    };
    for (const Row& row : rows) {
        // The same outcome whatever pieces the mail arrives in.
        for (const std::size_t piece : {row.mail.size(), std::size_t{1}, std::size_t{7}}) {
            SCOPED_TRACE(std::string(row.name) + ", pieces of " + std::to_string(piece));
            StringSink sink;
            AttachmentExtractor extractor(sink);
            for (std::size_t i = 0; i < row.mail.size(); i += piece) {
                extractor.Write(row.mail.data() + i, std::min(piece, row.mail.size() - i));
            }
            EXPECT_EQ(extractor.Finish(), row.status) << extractor.detail();
            if (row.status == kComplete) {
                EXPECT_EQ(sink.bytes, row.bytes);
            }
            EXPECT_NE(extractor.detail().find(row.detail), std::string::npos) << extractor.detail();
        }
    }
}

TEST(MailAttachmentTest, FileAppearsOnlyWhenCommittedWhole) {
    test::TempDir dir;
    const auto destination = dir / "00000012_RCV_ABC.CII";
    test::WriteFile(destination, std::string_view("older"));
    {
        AttachmentFile file(destination);
        ASSERT_TRUE(file.Write("first", 5));
        ASSERT_TRUE(file.Restart());
        ASSERT_TRUE(file.Write("new", 3));
        EXPECT_EQ(test::ReadText(destination), "older");  // not before the commit
    }
    EXPECT_EQ(test::ReadText(destination), "older");  // dropped without a commit
    AttachmentFile file(destination);
    ASSERT_TRUE(file.Write("new", 3));
    ASSERT_TRUE(file.Commit()) << file.error();
    EXPECT_EQ(test::ReadText(destination), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    AttachmentFile nowhere(dir / "missing" / "x.CII");
    EXPECT_FALSE(nowhere.Write("x", 1));
    EXPECT_NE(nowhere.error().find("No such file or directory"), std::string::npos) << nowhere.error();
}

TEST(MailInboxTest, MaildirUnreadMailsAreKnownByTheirNamesAndMarkedReadByRenaming) {
    test::TempDir dir;
    const fs::path box = dir / "Maildir";
    const auto inbox = OpenMaildirInbox(box);  // makes new, cur and tmp
    test::WriteFile(box / "new" / "300.c.host", std::string_view("From: c\r\n\r\nthird"));
    test::WriteFile(box / "cur" / "100.a.host:2,S", std::string_view("read"));
    test::WriteFile(box / "cur" / "200.b.host,S=9:2,F", std::string_view("From: b\r\n\r\nsecond"));
    test::WriteFile(box / "cur" / "50.d.host", std::string_view("From: d\r\n\r\nfirst"));
    test::WriteFile(box / "cur" / ".50.e.host", std::string_view("hidden"));
    test::WriteFile(box / "tmp" / "10.f.host", std::string_view("being delivered"));

    const std::vector<std::string> unread = inbox->ListUnread();
    EXPECT_EQ(unread, (std::vector<std::string>{"50.d.host", "200.b.host,S=9:2,F", "300.c.host"}));
    EXPECT_EQ(inbox->ReadStart("200.b.host,S=9:2,F", 7), "From: b");
    std::string all;
    inbox->ReadAll("300.c.host", [&](const char* data, std::size_t size) { all.append(data, size); });
    EXPECT_EQ(all, "From: c\r\n\r\nthird");

    for (const std::string& id : unread) inbox->MarkRead(id);
    for (const char* read : {"50.d.host:2,S", "200.b.host,S=9:2,FS", "300.c.host:2,S"})
        EXPECT_TRUE(fs::exists(box / "cur" / read)) << read;
    EXPECT_TRUE(fs::is_empty(box / "new"));
    EXPECT_TRUE(inbox->ListUnread().empty());
    EXPECT_THROW(inbox->MarkRead("300.c.host"), std::system_error);  // gone from new
}

const char* const kPartner = "orders@partner.example";

// Only one mailbox whose address is the partner's counts; with an AuthServId the site's server must
// vouch for the partner as well.
TEST(MailSenderTest, OnlyThePartnersOneMailboxCountsAndTheSitesServerMustVouchForIt) {
    // The case, the From fields, whether the partner sent it and what the verdict's reason says.
    const std::tuple<const char*, std::string, bool, const char*> rows[] = {
        {"bare address", "From: orders@partner.example\r\n", true, ""},
        {"display name and comments", "From: \"Orders, Partner\" (sales) <orders@partner.example> (desk)\r\n", true,
         ""},
        {"folded field", "From: Partner Orders\r\n\t<orders@partner.example>\r\n", true, ""},
        {"quoted local part", "From: \"orders\"@partner.example\r\n", true, ""},
        {"partner address as unquoted display name", "From: orders@partner.example <attacker@evil.example>\r\n", false,
         "no list of mailboxes"},
        {"partner address as quoted display name", "From: \"orders@partner.example\" <attacker@evil.example>\r\n",
         false, "attacker@evil.example is not the partner address"},
        {"two addresses, the partner's first", "From: orders@partner.example, attacker@evil.example\r\n", false,
         "From names 2 mailboxes"},
        {"words after the address", "From: orders@partner.example attacker@evil.example\r\n", false,
         "no list of mailboxes"},
        {"quoted partner address as local part", "From: \"orders@partner.example\"@evil.example\r\n", false,
         "is not the partner address"},
        {"two From fields", "From: orders@partner.example\r\nFrom: attacker@evil.example\r\n", false, "2 From fields"},
        {"group", "From: partners: orders@partner.example;\r\n", false, "no list of mailboxes"},
        {"letter case differs", "From: Orders@partner.example\r\n", false, "is not the partner address"},
        {"no From", "Subject: x\r\n", false, "0 From fields"},
    };
    for (const auto& [name, header, partner, reason] : rows) {
        SCOPED_TRACE(name);
        const SenderVerdict verdict = CheckPartnerSender(ParseHeaderBlock(header), kPartner, "");
        EXPECT_EQ(verdict.partner, partner) << verdict.reason;
        EXPECT_NE(verdict.reason.find(reason), std::string::npos) << verdict.reason;
        EXPECT_EQ(verdict.mentions_partner, LowerAscii(header).find(kPartner) != std::string::npos);
    }

    const std::string from = "From: <orders@partner.example>\r\n";
    // The case, the Authentication-Results fields and whether the partner sent it.
    const std::tuple<const char*, std::string, bool> vouched[] = {
        {"dmarc pass", "Authentication-Results: mx.site.example; dmarc=pass (p=reject) header.from=partner.example\r\n",
         true},
        {"dkim pass for the partner's domain",
         "Authentication-Results: mx.site.example 1; spf=fail smtp.mailfrom=x@evil.example;\r\n dkim=pass "
         "header.d=Partner.Example header.s=sel\r\n",
         true},
        {"dkim pass, identity in the partner's domain",
         "Authentication-Results: MX.SITE.EXAMPLE; dkim=pass header.i=@partner.example\r\n", true},
        {"dkim pass for another domain", "Authentication-Results: mx.site.example; dkim=pass header.d=evil.example\r\n",
         false},
        {"dmarc fail", "Authentication-Results: mx.site.example; dmarc=fail header.from=partner.example\r\n", false},
        {"dmarc pass for another From domain",
         "Authentication-Results: mx.site.example; dmarc=pass header.from=evil.example\r\n", false},
        {"another server's pass", "Authentication-Results: mx.evil.example; dmarc=pass\r\n", false},
        {"pass hidden in a comment",
         "Authentication-Results: mx.site.example; dkim=fail (dkim=pass) header.d=partner.example\r\n", false},
        {"none", "Authentication-Results: mx.site.example; none\r\n", false},
        {"no results", "", false},
    };
    for (const auto& [name, results, partner] : vouched) {
        const SenderVerdict verdict = CheckPartnerSender(ParseHeaderBlock(from + results), kPartner, "mx.site.example");
        EXPECT_EQ(verdict.partner, partner) << name << ": " << verdict.reason;
    }
    EXPECT_TRUE(CheckPartnerSender(ParseHeaderBlock(from), kPartner, "").partner);
}

}  // namespace
}  // namespace edi
