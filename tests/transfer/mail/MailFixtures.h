// The mail services the mail tests run against, and helpers to put mails into them
// and to read what arrived.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace edi::test {

// The services started for the suite (see tests/support/mail_servers.sh).
struct MailServers {
    int imap_port = 0;
    int smtp_port = 0;
    int silent_port = 0;   // accepts connections, never answers
    int refused_port = 0;  // nobody listens
    std::filesystem::path passwd;
    std::filesystem::path imap_mail;     // one Maildir per IMAP user
    std::filesystem::path smtp_maildir;  // every mail the SMTP server accepted
    std::filesystem::path dovecot_conf;
    bool loaded = false;
};

// Reads K500100_MAIL_SERVERS/servers.env; loaded stays false when the services are not up.
MailServers LoadMailServers();

// Empties an IMAP user's mailbox: a test starts from no mail at all.
void ResetImapUser(const MailServers& servers, const std::string& user);
// Saves a mail into the user's IMAP inbox, after the ones saved before.
void DeliverToImap(const MailServers& servers, const std::string& user, const std::string& raw);
// Drops an unread mail into a Maildir folder.
void DeliverToMaildir(const std::filesystem::path& folder, const std::string& raw);

// A mail from `from` whose subject carries `marker`; with an attachment when a name is given.
std::string MakeMail(const std::string& from, const std::string& marker, const std::string& attachment_name = {},
                     const std::string& attachment_bytes = {});

struct StoredMail {
    std::filesystem::path file;
    std::string content;
    bool seen = false;  // the Maildir name carries the S flag
};
std::vector<StoredMail> MailsIn(const std::filesystem::path& maildir);
// Whether the one mail whose subject carries the marker is read; nothing when there is not exactly one.
std::optional<bool> SeenMail(const std::filesystem::path& maildir, const std::string& marker);

struct ReceivedMail {
    std::string to;
    std::string subject;
    std::string body;
    std::vector<std::string> attachment_names;
    std::vector<std::string> attachment_bytes;
};
// The mails in a Maildir addressed to `to`, decoded.
std::vector<ReceivedMail> MailsTo(const std::filesystem::path& maildir, const std::string& to);

}  // namespace edi::test
