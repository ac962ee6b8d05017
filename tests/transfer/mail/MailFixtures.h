// The mail services the mail tests run against, and helpers to put mails into them
// and to read what arrived.
#pragma once

#include <map>
#include <optional>

#include "JobFixture.h"
#include "transfer/MailTransfer.h"

namespace edi::test {

// The services started for the suite (see tests/support/mail_servers.sh), by their names in
// servers.env. Ports: imap (STARTTLS), imaps, smtp (no TLS, offers AUTH all the same), starttls
// (STARTTLS required, AUTH after it), smtps, silent (accepts connections, never answers), refused
// (nobody listens). Paths: imap_mail (one Maildir per IMAP user), smtp_maildir (every mail the SMTP
// server accepted), dovecot_conf, pki (ca.pem and the servers' certificates), rawlog (what IMAP
// clients sent before logging on), smtp_auth_log (every AUTH that reached an SMTP server).
// remote_host: a name of this machine that is not loopback by its name; may be empty.
struct MailServers {
    std::map<std::string, std::string> values;
    bool loaded = false;
    std::string Value(const std::string& name) const {
        const auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    }
    std::filesystem::path Path(const std::string& name) const { return Value(name); }
    int Port(const std::string& name) const { return std::stoi(Value(name + "_port")); }
};

// Reads K500100_MAIL_SERVERS/servers.env; loaded stays false when the services are not up.
MailServers LoadMailServers();

// Empties an IMAP user's mailbox: a test starts from no mail at all.
void ResetImapUser(const MailServers& servers, const std::string& user);
// Saves a mail into the user's IMAP inbox, after the ones saved before.
void DeliverToImap(const MailServers& servers, const std::string& user, const std::string& raw);
// Drops an unread mail into a Maildir folder.
void DeliverToMaildir(const std::filesystem::path& folder, const std::string& raw);

// A mail from `from` whose subject carries `marker`: a text part, then the given MIME parts.
std::string MultipartMail(const std::string& from, const std::string& marker, const std::string& parts,
                          const std::string& extra_header = "");
// An attachment part of the multipart mail, its bytes given as base64 text.
std::string AttachmentPart(const std::string& name, const std::string& base64);
// A mail whose attachment holds the bytes.
std::string MakeMail(const std::string& from, const std::string& marker, const std::string& attachment_name,
                     const std::string& attachment_bytes);

struct StoredMail {
    std::filesystem::path file;
    std::string content;
    bool seen = false;  // the Maildir name carries the S flag
};
std::vector<StoredMail> MailsIn(const std::filesystem::path& maildir);
// Whether the one mail whose subject carries the marker is read; nothing when there is not exactly one.
std::optional<bool> SeenMail(const std::filesystem::path& maildir, const std::string& marker);

struct ReceivedMail {
    std::string subject;
    std::string body;
    std::vector<std::pair<std::string, std::string>> attachments;  // name, bytes
};
// The mails in a Maildir addressed to `to`, decoded by vmime.
std::vector<ReceivedMail> MailsTo(const std::filesystem::path& maildir, const std::string& to);

// How many files of the folder hold the text.
std::size_t FilesHolding(const std::filesystem::path& folder, const std::string& text);
// The SHA-256 fingerprint of a PEM certificate, as openssl prints it.
std::string FingerprintOf(const std::filesystem::path& pem);

// A receive or send run of the transport in a job's world, against an EDI.ini the test writes
// (profile "edi" unless it does).
class MailTransferFixture : public JobTest {
protected:
    void SetUp() override;

    // A name that no other test or test process uses.
    std::string Unique() const;
    void WriteIni(const std::string& mapi_lines, const std::string& mail_text = "line1\\nline2");
    // "Store=imap://127.0.0.1:<port>" and the test CA, so STARTTLS is verified.
    std::string ImapStore(int port) const;
    std::string CaFile() const { return "CAFile=" + (servers_.Path("pki") / "ca.pem").string() + "\r\n"; }
    MailRequest Request(const std::string& direction, const std::string& kind) const;
    int Run(MailRequest& request);
    // Runs a request that must end well: 0, result 0000 and no message.
    void RunWell(MailRequest request);
    std::filesystem::path Received(const char* kind) const;
    std::filesystem::path DefaultInbox() const { return dir_ / "Maildir"; }
    std::string Shown() const;
    std::string ErrLog() const;

    MailServers servers_;
};

inline constexpr const char* kPartner = "orders@partner.example";

}  // namespace edi::test
