// Whose mail it is: the one rule, the same for every store, that makes a mail the
// partner's. Its From field names exactly one mailbox whose address (never its display
// name) equals the partner address; when the site names its own mail server's authserv-id,
// that server's Authentication-Results must also say dmarc=pass, or dkim=pass for the
// partner's domain.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "transfer/MailHeader.h"

namespace edi {

struct Mailbox {
    std::string display_name;
    std::string address;  // local part (unquoted where it can be) "@" domain, letter case as written
};

// The mailboxes of an address-list value such as From, read strictly: nothing when it is
// not a comma-separated list of mailboxes (a group, an "@" outside quotes in a display name,
// words after an address, an empty element, an unclosed quote or bracket).
std::optional<std::vector<Mailbox>> ParseMailboxList(std::string_view value);

struct AuthResult {
    std::string method;                                           // lower case: "dkim", "dmarc", "spf"...
    std::string result;                                           // lower case: "pass", "fail"...
    std::vector<std::pair<std::string, std::string>> properties;  // ("header.d", "example.com"), name lower case
};
struct AuthenticationResults {
    std::string authserv_id;
    std::vector<AuthResult> results;
};
// One Authentication-Results value; nothing when it names no authserv-id.
std::optional<AuthenticationResults> ParseAuthenticationResults(std::string_view value);

struct SenderVerdict {
    bool partner = false;
    bool mentions_partner = false;  // the From field holds the partner address somewhere
    std::string reason;             // why it is not the partner's mail
};
SenderVerdict CheckPartnerSender(const std::vector<HeaderField>& header, std::string_view partner_address,
                                 std::string_view authserv_id);

}  // namespace edi
