// The inbox as a receive run needs it: its unread mails only, oldest first, read without
// marking them, and marked read one by one. The cost of a run grows with the unread mails,
// not with the mailbox: a Maildir's unread mails are known from its file names, an IMAP
// server is asked for them (UID SEARCH UNSEEN) on the one connection vmime made.
// Failures are thrown (std::system_error for files, vmime's exceptions for IMAP) and turned
// into mail errors by the mail service.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vmime::net {
class store;
}

namespace edi {

class Inbox {
public:
    virtual ~Inbox() = default;
    // The unread mails, oldest first, by their id in the store. A store that can search asks
    // only for those whose From field holds `from` (letter case ignored), when it is given:
    // the caller still decides whose mail it is.
    virtual std::vector<std::string> ListUnread(const std::string& from = {}) = 0;
    // The mail's first `limit` bytes (or all of a shorter mail).
    virtual std::string ReadStart(const std::string& id, std::size_t limit) = 0;
    // The whole mail, in pieces.
    virtual void ReadAll(const std::string& id, const std::function<void(const char*, std::size_t)>& out) = 0;
    virtual void MarkRead(const std::string& id) = 0;
};

// A Maildir folder (its new, cur and tmp are made when missing): a mail is unread while it is
// in new, or in cur without the S flag; marking it read moves it to cur with S added.
std::unique_ptr<Inbox> OpenMaildirInbox(const std::filesystem::path& folder);

// The INBOX of a connected IMAP store, selected on the store's own connection.
std::unique_ptr<Inbox> OpenImapInbox(vmime::net::store& store);

}  // namespace edi
