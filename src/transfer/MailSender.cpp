#include "transfer/MailSender.h"

namespace edi {

namespace {

constexpr std::string_view kAddressSpecials = "<>[]:;@\\,.";

bool IsAtext(unsigned char c) {
    if (c >= 0x80) return true;  // UTF-8 in internationalised headers
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-/=?^_`{|}~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool IsAtom(const HeaderWord& word) {
    if (word.kind != HeaderWord::kAtom || word.text.empty()) return false;
    for (const char c : word.text) {
        if (!IsAtext(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

bool IsSpecial(const HeaderWord& word, char c) {
    return word.kind == HeaderWord::kSpecial && word.text.size() == 1 && word.text[0] == c;
}

// A quoted word stays quoted when it could not be written as an atom.
std::string LocalWord(const HeaderWord& word) {
    if (word.kind == HeaderWord::kAtom) return word.text;
    if (IsAtom(HeaderWord{HeaderWord::kAtom, word.text})) return word.text;
    std::string quoted = "\"";
    for (const char c : word.text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

// local-part "@" domain, every word as the grammar wants it.
std::optional<std::string> AddrSpec(const std::vector<HeaderWord>& words) {
    std::size_t at = words.size();
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (!IsSpecial(words[i], '@')) continue;
        if (at != words.size()) return std::nullopt;
        at = i;
    }
    if (at == 0 || at == words.size() || at + 1 == words.size()) return std::nullopt;
    std::string address;
    for (std::size_t i = 0; i < at; ++i) {
        const bool word_expected = i % 2 == 0;
        if (word_expected && (IsAtom(words[i]) || words[i].kind == HeaderWord::kQuoted)) {
            address += LocalWord(words[i]);
        } else if (!word_expected && IsSpecial(words[i], '.')) {
            address += '.';
        } else {
            return std::nullopt;
        }
    }
    if (at % 2 != 1) return std::nullopt;  // the local part ends with a dot
    address += '@';
    if (at + 2 == words.size() && words[at + 1].kind == HeaderWord::kLiteral) {
        return address + "[" + words[at + 1].text + "]";
    }
    for (std::size_t i = at + 1; i < words.size(); ++i) {
        const bool word_expected = (i - at) % 2 == 1;
        if (word_expected && IsAtom(words[i])) {
            address += words[i].text;
        } else if (!word_expected && IsSpecial(words[i], '.')) {
            address += '.';
        } else {
            return std::nullopt;
        }
    }
    if ((words.size() - at) % 2 != 0) return std::nullopt;  // the domain ends with a dot
    return address;
}

std::optional<Mailbox> MailboxOf(const std::vector<HeaderWord>& words) {
    std::size_t open = words.size();
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (IsSpecial(words[i], '<')) {
            open = i;
            break;
        }
    }
    Mailbox mailbox;
    if (open == words.size()) {
        const std::optional<std::string> address = AddrSpec(words);
        if (!address) return std::nullopt;
        mailbox.address = *address;
        return mailbox;
    }
    // name-addr: a display name of words and dots only, then <addr-spec> and nothing after it.
    if (!IsSpecial(words.back(), '>')) return std::nullopt;
    for (std::size_t i = 0; i < open; ++i) {
        if (!IsAtom(words[i]) && words[i].kind != HeaderWord::kQuoted && !IsSpecial(words[i], '.')) return std::nullopt;
        mailbox.display_name += (i == 0 ? "" : " ") + words[i].text;
    }
    const std::optional<std::string> address =
        AddrSpec(std::vector<HeaderWord>(words.begin() + static_cast<std::ptrdiff_t>(open) + 1, words.end() - 1));
    if (!address) return std::nullopt;
    mailbox.address = *address;
    return mailbox;
}

std::string DomainOf(std::string_view address) {
    const std::size_t at = address.rfind('@');
    return at == std::string_view::npos ? std::string() : LowerAscii(address.substr(at + 1));
}

std::string PropertyOf(const AuthResult& result, std::string_view name) {
    for (const auto& [key, value] : result.properties) {
        if (key == name) return value;
    }
    return {};
}

// dmarc=pass (for the partner's domain when the header.from is given), or dkim=pass
// signed by the partner's domain.
bool VouchesFor(const AuthResult& result, const std::string& domain) {
    if (result.result != "pass") return false;
    if (result.method == "dmarc") {
        const std::string from = PropertyOf(result, "header.from");
        return from.empty() || DomainOf("@" + from) == domain;
    }
    if (result.method == "dkim") {
        const std::string signer = PropertyOf(result, "header.d");
        const std::string identity = PropertyOf(result, "header.i");
        return LowerAscii(signer) == domain || (!identity.empty() && DomainOf(identity) == domain);
    }
    return false;
}

std::string Shortened(std::string_view text) {
    return text.size() <= 200 ? std::string(text) : std::string(text.substr(0, 200)) + "...";
}

}  // namespace

std::optional<std::vector<Mailbox>> ParseMailboxList(std::string_view value) {
    const auto words = SplitWords(value, kAddressSpecials);
    if (!words || words->empty()) return std::nullopt;
    std::vector<Mailbox> mailboxes;
    std::vector<HeaderWord> element;
    for (std::size_t i = 0; i <= words->size(); ++i) {
        if (i < words->size() && !IsSpecial((*words)[i], ',')) {
            element.push_back((*words)[i]);
            continue;
        }
        if (element.empty()) return std::nullopt;
        const std::optional<Mailbox> mailbox = MailboxOf(element);
        if (!mailbox) return std::nullopt;
        mailboxes.push_back(*mailbox);
        element.clear();
    }
    return mailboxes;
}

std::optional<AuthenticationResults> ParseAuthenticationResults(std::string_view value) {
    const auto words = SplitWords(value, ";=/");
    if (!words || words->empty() || words->front().kind == HeaderWord::kSpecial) return std::nullopt;
    AuthenticationResults parsed;
    parsed.authserv_id = words->front().text;
    std::vector<std::vector<HeaderWord>> statements(1);
    for (std::size_t i = 1; i < words->size(); ++i) {
        if (IsSpecial((*words)[i], ';')) {
            statements.emplace_back();
        } else {
            statements.back().push_back((*words)[i]);
        }
    }
    for (std::size_t s = 1; s < statements.size(); ++s) {
        const std::vector<HeaderWord>& w = statements[s];
        // method [ "/" version ] "=" result, then name "=" value pairs.
        std::size_t i = 0;
        if (w.empty() || w[0].kind != HeaderWord::kAtom) continue;
        AuthResult result;
        result.method = LowerAscii(w[0].text);
        i = 1;
        if (i + 1 < w.size() && IsSpecial(w[i], '/')) i += 2;
        if (i + 1 >= w.size() || !IsSpecial(w[i], '=') || w[i + 1].kind == HeaderWord::kSpecial) continue;
        result.result = LowerAscii(w[i + 1].text);
        for (i += 2; i + 2 < w.size(); i += 3) {
            if (!IsSpecial(w[i + 1], '=') || w[i].kind != HeaderWord::kAtom) break;
            result.properties.emplace_back(LowerAscii(w[i].text), w[i + 2].text);
        }
        parsed.results.push_back(std::move(result));
    }
    return parsed;
}

SenderVerdict CheckPartnerSender(const std::vector<HeaderField>& header, std::string_view partner_address,
                                 std::string_view authserv_id) {
    SenderVerdict verdict;
    const std::vector<std::string> froms = FieldValues(header, "From");
    for (const std::string& from : froms) {
        if (LowerAscii(from).find(LowerAscii(partner_address)) != std::string::npos) verdict.mentions_partner = true;
    }
    if (froms.size() != 1) {
        verdict.reason = "the mail has " + std::to_string(froms.size()) + " From fields";
        return verdict;
    }
    const std::optional<std::vector<Mailbox>> mailboxes = ParseMailboxList(froms.front());
    if (!mailboxes) {
        verdict.reason = "From is no list of mailboxes: " + Shortened(froms.front());
        return verdict;
    }
    if (mailboxes->size() != 1) {
        verdict.reason = "From names " + std::to_string(mailboxes->size()) + " mailboxes: " + Shortened(froms.front());
        return verdict;
    }
    if (mailboxes->front().address != partner_address) {
        verdict.reason = "the From address " + Shortened(mailboxes->front().address) + " is not the partner address";
        return verdict;
    }
    if (!authserv_id.empty()) {
        const std::string domain = DomainOf(partner_address);
        bool seen = false;
        for (const std::string& value : FieldValues(header, "Authentication-Results")) {
            const std::optional<AuthenticationResults> results = ParseAuthenticationResults(value);
            if (!results || LowerAscii(results->authserv_id) != LowerAscii(authserv_id)) continue;
            seen = true;
            for (const AuthResult& result : results->results) {
                if (VouchesFor(result, domain)) {
                    verdict.partner = true;
                    return verdict;
                }
            }
        }
        verdict.reason = seen ? "Authentication-Results of " + std::string(authserv_id) +
                                    " say neither dmarc=pass nor dkim=pass for " + domain
                              : "no Authentication-Results of " + std::string(authserv_id);
        return verdict;
    }
    verdict.partner = true;
    return verdict;
}

}  // namespace edi
