#include <gtest/gtest.h>

#include <string>

#include "transfer/MailSender.h"

namespace edi {
namespace {

const char* const kPartner = "orders@partner.example";

TEST(MailSenderTest, OnlyOneMailboxWhoseAddressIsThePartnersCounts) {
    struct Row {
        const char* name;
        std::string header;
        bool partner;
        const char* reason = "";
    };
    const Row rows[] = {
        {"bare address", "From: orders@partner.example\r\n", true},
        {"display name and comments", "From: \"Orders, Partner\" (sales) <orders@partner.example> (desk)\r\n", true},
        {"folded field", "From: Partner Orders\r\n\t<orders@partner.example>\r\n", true},
        {"quoted local part", "From: \"orders\"@partner.example\r\n", true},
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
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SenderVerdict verdict = CheckPartnerSender(ParseHeaderBlock(row.header), kPartner, "");
        EXPECT_EQ(verdict.partner, row.partner) << verdict.reason;
        EXPECT_NE(verdict.reason.find(row.reason), std::string::npos) << verdict.reason;
        EXPECT_EQ(verdict.mentions_partner, LowerAscii(row.header).find(kPartner) != std::string::npos);
    }
}

TEST(MailSenderTest, WithAnAuthservIdTheSitesServerMustVouchForThePartner) {
    const std::string from = "From: <orders@partner.example>\r\n";
    struct Row {
        const char* name;
        std::string results;  // Authentication-Results fields
        bool partner;
    };
    const Row rows[] = {
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
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SenderVerdict verdict =
            CheckPartnerSender(ParseHeaderBlock(from + row.results), kPartner, "mx.site.example");
        EXPECT_EQ(verdict.partner, row.partner) << verdict.reason;
    }
    EXPECT_TRUE(CheckPartnerSender(ParseHeaderBlock(from), kPartner, "").partner);
}

}  // namespace
}  // namespace edi
