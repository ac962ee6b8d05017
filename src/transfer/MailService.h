// The mail service behind the transport: a store to fetch from (a Maildir folder or an
// IMAP server) and a transport to send through (SMTP or the local sendmail program).
// Nothing here throws: every failure comes back as a MailError with a number and a text.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/MailAttachment.h"
#include "transfer/MailHeader.h"
#include "transfer/MailTls.h"

namespace edi {

// Error numbers the operator sees in "Error <number>: <description>".
inline constexpr int kMailFailure = 32002;                 // anything not listed below
inline constexpr int kMailLoginFailure = 32003;            // wrong user or password, store not usable
inline constexpr int kMailAttachmentNotFound = 32011;      // the file to send cannot be read
inline constexpr int kMailAttachmentWriteFailure = 32013;  // a received attachment cannot be stored
inline constexpr int kMailUnknownRecipient = 32014;        // the partner address is no mail address
inline constexpr int kMailNetworkFailure = 32023;          // no connection, connection lost or timed out
inline constexpr int kMailSecurityFailure = 32030;         // no TLS where it is required, certificate refused
inline constexpr int kMailPlainAllowed = 32031;            // ERR.LOG warning: AllowPlain is set

struct MailError {
    int number = 0;  // 0: no error
    std::string description;
    bool failed() const { return number != 0; }
};

// Where the service is and who logs on to it.
struct MailServiceConfig {
    std::string store;      // "maildir:///path/to/Maildir", "imap://host:port" or "imaps://host:port"
    std::string transport;  // "smtp[s]://host:port", "smtp[s]://user@host:port", "sendmail://" or "sendmail:///path"
    std::string user;       // the store's user (the profile name)
    std::string password;
    int timeout_seconds = 20;  // longest wait for the server at any one step
    TlsSettings tls;
};

struct OutgoingMail {
    std::string from;
    std::string to;
    std::string subject;
    std::string body;  // lines end with CR LF
    std::filesystem::path attachment;
};

// One unread mail as fetched: its header, who sent it and what tells it apart from the others.
struct FetchedMail {
    std::string sender;      // the From address when From names exactly one mailbox, else empty
    std::string uid;         // the store's own id of the mail
    std::string message_id;  // the Message-ID header, empty when it has none
    std::string date;        // the Date header as "yyyymmddhhmmss" universal time, empty when it has none
    std::vector<HeaderField> header;
    bool header_whole = true;  // false: the header is longer than kMailHeaderLimit and was cut
};
inline constexpr std::size_t kMailHeaderLimit = 64 * 1024;

struct SavedAttachment {
    AttachmentStatus status = AttachmentStatus::kNone;
    std::string detail;  // the part taken, or why none was stored
};

// The display name of a partner address ("Name <a@b>" gives "Name", a bare address
// gives the address), or kMailUnknownRecipient when the text is no mail address.
MailError ResolveMailAddress(std::string_view address, std::string& display_name);

// One logon to the store: fetches the inbox's unread mails, stores attachments, marks
// mails read and sends through the transport.
class MailSession {
public:
    ~MailSession();
    MailSession(const MailSession&) = delete;
    MailSession& operator=(const MailSession&) = delete;

    // Connects to the store with the configured user and password.
    static MailError Logon(const MailServiceConfig& config, std::unique_ptr<MailSession>& session);

    // The unread mails of the inbox, oldest first in the store, with their headers. Only
    // unread mails are fetched: IMAP searches for them (only those whose From holds `from`
    // when it is given, see Inbox::ListUnread), a Maildir's file names carry the flags, so a
    // run costs what its unread mails cost, whatever the size of the mailbox. Indexes below
    // refer to this list.
    MailError FetchUnreadMails(std::vector<FetchedMail>& mails, const std::string& from = {});

    // Streams a fetched mail through the attachment rules into destination (see
    // MailAttachment.h), replacing an existing file only once the new one is complete and on
    // the disk. Reading the mail leaves it unread. A mail without attachment or with a damaged
    // one comes back in saved, not as an error.
    MailError SaveAttachment(std::size_t index, const std::filesystem::path& destination, SavedAttachment& saved);

    // Marks a fetched mail as read (its \Seen flag).
    MailError MarkRead(std::size_t index);

    // Composes the mail with its attachment and hands it to the transport.
    MailError Send(const OutgoingMail& mail);

    // Disconnects; never fails.
    void Logoff();

private:
    struct Impl;
    explicit MailSession(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace edi
