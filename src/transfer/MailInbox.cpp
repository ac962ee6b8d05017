#include "transfer/MailInbox.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <system_error>
#include <vmime/net/imap/IMAPCommand.hpp>
#include <vmime/net/imap/IMAPConnection.hpp>
#include <vmime/net/imap/IMAPParser.hpp>
#include <vmime/net/imap/IMAPStore.hpp>
#include <vmime/vmime.hpp>

namespace edi {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void Throw(const std::error_code& ec, const fs::path& path) {
    throw std::system_error(ec, "Maildir " + path.string());
}

// Maildir names begin with the delivery time: oldest first, then by name.
bool DeliveredBefore(const std::string& a, const std::string& b) {
    const unsigned long long ta = std::strtoull(a.c_str(), nullptr, 10);
    const unsigned long long tb = std::strtoull(b.c_str(), nullptr, 10);
    return ta != tb ? ta < tb : a < b;
}

class MaildirInbox final : public Inbox {
public:
    explicit MaildirInbox(fs::path folder) : folder_(std::move(folder)) {
        for (const char* sub : {"new", "cur", "tmp"}) {
            std::error_code ec;
            fs::create_directories(folder_ / sub, ec);
            if (ec) throw std::system_error(ec, "the Maildir folder " + (folder_ / sub).string() + " cannot be made");
        }
    }

    std::vector<std::string> ListUnread(const std::string&) override {
        where_.clear();
        std::vector<std::string> ids;
        for (const char* sub : {"new", "cur"}) {
            std::error_code ec;
            const fs::path dir = folder_ / sub;
            for (fs::directory_iterator it(dir, ec), end; it != end; it.increment(ec)) {
                if (ec) break;
                const std::string name = it->path().filename().string();
                if (name.empty() || name[0] == '.') continue;
                const std::size_t info = name.find(":2,");
                if (sub[0] == 'c' && info != std::string::npos && name.find('S', info + 3) != std::string::npos) {
                    continue;
                }
                ids.push_back(name);
                where_[name] = it->path();
            }
            if (ec) Throw(ec, dir);
        }
        std::sort(ids.begin(), ids.end(), DeliveredBefore);
        return ids;
    }

    std::string ReadStart(const std::string& id, std::size_t limit) override {
        std::ifstream in = Open(id);
        std::string bytes(limit, '\0');
        in.read(bytes.data(), static_cast<std::streamsize>(limit));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        if (in.bad()) Throw(std::error_code(errno, std::generic_category()), Path(id));
        return bytes;
    }

    void ReadAll(const std::string& id, const std::function<void(const char*, std::size_t)>& out) override {
        std::ifstream in = Open(id);
        std::string chunk(64 * 1024, '\0');
        while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
            out(chunk.data(), static_cast<std::size_t>(in.gcount()));
        }
        if (in.bad()) Throw(std::error_code(errno, std::generic_category()), Path(id));
    }

    // The flags after ":2," get an S (kept in ASCII order); the file moves to cur.
    void MarkRead(const std::string& id) override {
        const fs::path from = Path(id);
        const std::size_t info = id.find(":2,");
        std::string flags = info == std::string::npos ? "" : id.substr(info + 3);
        flags += 'S';
        std::sort(flags.begin(), flags.end());
        flags.erase(std::unique(flags.begin(), flags.end()), flags.end());
        const fs::path to = folder_ / "cur" / (id.substr(0, info) + ":2," + flags);
        std::error_code ec;
        fs::rename(from, to, ec);
        if (ec) Throw(ec, from);
        where_.erase(id);
    }

private:
    fs::path Path(const std::string& id) const {
        const auto found = where_.find(id);
        return found != where_.end() ? found->second : folder_ / "new" / id;
    }
    std::ifstream Open(const std::string& id) const {
        std::ifstream in(Path(id), std::ios::binary);
        if (!in) Throw(std::error_code(errno, std::generic_category()), Path(id));
        return in;
    }

    fs::path folder_;
    std::map<std::string, fs::path> where_;  // the listed mails' files
};

namespace imap = vmime::net::imap;

// Sends every literal of a response to `out` instead of keeping it in the response.
class LiteralsTo final : public imap::IMAPParser::literalHandler {
public:
    explicit LiteralsTo(std::function<void(const char*, std::size_t)> out) : out_(std::move(out)) {}
    target* targetFor(const imap::IMAPParser::component&, const int) override { return new Target(out_); }

private:
    class Target final : public target {
    public:
        explicit Target(const std::function<void(const char*, std::size_t)>& out) : target(nullptr), out_(out) {}
        void putData(const vmime::string& chunk) override { out_(chunk.data(), chunk.size()); }

    private:
        const std::function<void(const char*, std::size_t)>& out_;
    };
    std::function<void(const char*, std::size_t)> out_;
};

class ImapInbox final : public Inbox {
public:
    explicit ImapInbox(vmime::net::store& store) {
        auto* imap_store = dynamic_cast<imap::IMAPStore*>(&store);
        if (imap_store == nullptr) throw vmime::exceptions::operation_not_supported();
        connection_ = imap_store->getConnection();
        Run("SELECT INBOX");
    }

    std::vector<std::string> ListUnread(const std::string& from) override {
        // The address goes in as a quoted string; one that cannot be quoted is not searched for.
        const bool quotable = !from.empty() && from.find_first_of("\"\\\r\n") == std::string::npos &&
                              std::all_of(from.begin(), from.end(), [](char c) { return c >= ' ' && c < 127; });
        const auto response = Run(quotable ? "UID SEARCH UNSEEN FROM \"" + from + "\"" : "UID SEARCH UNSEEN");
        std::vector<unsigned long> uids;
        for (const auto* data : response->continue_req_or_response_data()) {
            const auto* response_data = data->response_data();
            if (response_data == nullptr || response_data->mailbox_data() == nullptr ||
                response_data->mailbox_data()->type() != imap::IMAPParser::mailbox_data::SEARCH) {
                continue;
            }
            for (const auto* number : response_data->mailbox_data()->search_nz_number_list()) {
                uids.push_back(number->value());
            }
        }
        std::sort(uids.begin(), uids.end());
        std::vector<std::string> ids;
        for (const unsigned long uid : uids) ids.push_back(std::to_string(uid));
        return ids;
    }

    std::string ReadStart(const std::string& id, std::size_t limit) override {
        std::string bytes;
        LiteralsTo handler([&](const char* data, std::size_t size) { bytes.append(data, size); });
        Run("UID FETCH " + id + " (BODY.PEEK[]<0." + std::to_string(limit) + ">)", &handler);
        return bytes;
    }

    void ReadAll(const std::string& id, const std::function<void(const char*, std::size_t)>& out) override {
        LiteralsTo handler(out);
        Run("UID FETCH " + id + " (BODY.PEEK[])", &handler);
    }

    void MarkRead(const std::string& id) override { Run("UID STORE " + id + " +FLAGS.SILENT (\\Seen)"); }

private:
    std::unique_ptr<imap::IMAPParser::response> Run(const std::string& command,
                                                    imap::IMAPParser::literalHandler* handler = nullptr) {
        imap::IMAPCommand::createCommand(command)->send(connection_);
        std::unique_ptr<imap::IMAPParser::response> response(connection_->readResponse(handler));
        const auto* done = response->response_done();
        if (response->isBad() || done == nullptr || done->response_tagged() == nullptr ||
            done->response_tagged()->resp_cond_state()->status() != imap::IMAPParser::resp_cond_state::OK) {
            throw vmime::exceptions::command_error(command, response->getErrorLog(), "bad response");
        }
        return response;
    }

    vmime::shared_ptr<imap::IMAPConnection> connection_;
};

}  // namespace

std::unique_ptr<Inbox> OpenMaildirInbox(const fs::path& folder) { return std::make_unique<MaildirInbox>(folder); }

std::unique_ptr<Inbox> OpenImapInbox(vmime::net::store& store) { return std::make_unique<ImapInbox>(store); }

}  // namespace edi
