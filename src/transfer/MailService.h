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

namespace edi {

// Error numbers the operator sees in "Error <number>: <description>".
inline constexpr int kMailFailure = 32002;                 // anything not listed below
inline constexpr int kMailLoginFailure = 32003;            // wrong user or password, store not usable
inline constexpr int kMailAttachmentNotFound = 32011;      // the file to send cannot be read
inline constexpr int kMailAttachmentWriteFailure = 32013;  // a received attachment cannot be stored
inline constexpr int kMailUnknownRecipient = 32014;        // the partner address is no mail address
inline constexpr int kMailNetworkFailure = 32023;          // no connection, connection lost or timed out

struct MailError {
    int number = 0;  // 0: no error
    std::string description;
    bool failed() const { return number != 0; }
};

// Where the service is and who logs on to it.
struct MailServiceConfig {
    std::string store;      // "maildir:///path/to/Maildir" or "imap://host:port"
    std::string transport;  // "smtp://host:port", "smtp://user@host:port", "sendmail://" or "sendmail:///path"
    std::string user;       // the store's user (the profile name)
    std::string password;
    int timeout_seconds = 20;  // longest wait for the server at any one step
};

struct OutgoingMail {
    std::string from;
    std::string to;
    std::string subject;
    std::string body;  // lines end with CR LF
    std::filesystem::path attachment;
};

// One unread mail as fetched: who sent it and what tells it apart from the others.
struct FetchedMail {
    std::string sender;      // the From address, empty when the mail names none
    std::string uid;         // the store's own id of the mail
    std::string message_id;  // the Message-ID header, empty when it has none
    std::string date;        // the Date header as "yyyymmddhhmmss" universal time, empty when it has none
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

    // The unread mails of the inbox in the store's order, as their senders' addresses
    // (empty when a mail names no sender). Indexes below refer to this list.
    MailError FetchUnread(std::vector<std::string>& senders);
    // The same list with each mail's id and date.
    MailError FetchUnreadMails(std::vector<FetchedMail>& mails);

    // Whether a fetched mail has an attachment; the mail stays unread.
    MailError HasAttachment(std::size_t index, bool& found);

    // Writes the first attachment of a fetched mail to destination, replacing an existing
    // file only once the new one is complete. found is false for a mail without attachment.
    // Reading the mail leaves it unread.
    MailError SaveFirstAttachment(std::size_t index, const std::filesystem::path& destination, bool& found);

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
