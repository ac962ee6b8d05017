#include "transfer/MailService.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <vmime/platforms/posix/posixHandler.hpp>
#include <vmime/vmime.hpp>

namespace edi {

namespace {

// The pieces of a service address "scheme://[user@]host[:port][/path]".
struct ServiceUrl {
    std::string scheme;
    std::string user;
    std::string host;
    std::string port;
    std::string path;
};

std::optional<ServiceUrl> ParseServiceUrl(std::string_view text) {
    const std::size_t colon = text.find("://");
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    ServiceUrl url;
    for (const char c : text.substr(0, colon))
        url.scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string_view rest = text.substr(colon + 3);
    const std::size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    if (slash != std::string_view::npos) url.path = std::string(rest.substr(slash));
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        url.user = std::string(authority.substr(0, at));
        authority.remove_prefix(at + 1);
    }
    if (const std::size_t port = authority.rfind(':'); port != std::string_view::npos) {
        url.port = std::string(authority.substr(port + 1));
        authority = authority.substr(0, port);
        if (url.port.empty() || url.port.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    }
    url.host = std::string(authority);
    return url;
}

MailError Failure(int number, std::string_view text, std::string_view detail = {}) {
    MailError error{number, std::string(text)};
    if (!detail.empty()) {
        error.description += " (";
        error.description += detail;
        error.description += ")";
    }
    return error;
}

// vmime reports with exceptions; they end here, mapped to the operator's numbers.
MailError FromException(std::exception_ptr thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const vmime::exceptions::authentication_error& e) {
        return Failure(kMailLoginFailure, "Login has failed", e.what());
    } catch (const vmime::exceptions::operation_timed_out& e) {
        return Failure(kMailNetworkFailure, "Network failure: the server did not answer in time", e.what());
    } catch (const vmime::exceptions::connection_error& e) {
        return Failure(kMailNetworkFailure, "Network failure: no connection to the mail service", e.what());
    } catch (const vmime::exceptions::connection_greeting_error& e) {
        return Failure(kMailNetworkFailure, "Network failure: the server refused the connection", e.what());
    } catch (const vmime::exceptions::socket_exception& e) {
        return Failure(kMailNetworkFailure, "Network failure: the connection was lost", e.what());
    } catch (const vmime::exceptions::not_connected& e) {
        return Failure(kMailNetworkFailure, "Network failure: the connection was lost", e.what());
    } catch (const vmime::exception& e) {
        return Failure(kMailFailure, "Unspecified failure has occurred", e.what());
    } catch (const std::exception& e) {
        return Failure(kMailFailure, "Unspecified failure has occurred", e.what());
    } catch (...) {
        return Failure(kMailFailure, "Unspecified failure has occurred");
    }
}

// Every service call goes through here, so no vmime exception leaves this file.
template <typename Fn>
MailError Guarded(Fn&& fn) {
    try {
        return fn();
    } catch (...) {
        return FromException(std::current_exception());
    }
}

// Gives up once the server has been silent for the configured number of seconds.
class SilenceLimit final : public vmime::net::timeoutHandler {
public:
    explicit SilenceLimit(int seconds) : limit_(std::chrono::seconds(seconds)) { resetTimeOut(); }
    bool isTimeOut() override { return std::chrono::steady_clock::now() - start_ >= limit_; }
    void resetTimeOut() override { start_ = std::chrono::steady_clock::now(); }
    bool handleTimeOut() override { return false; }

private:
    std::chrono::steady_clock::duration limit_;
    std::chrono::steady_clock::time_point start_;
};

class SilenceLimitFactory final : public vmime::net::timeoutHandlerFactory {
public:
    explicit SilenceLimitFactory(int seconds) : seconds_(seconds) {}
    vmime::shared_ptr<vmime::net::timeoutHandler> create() override {
        return vmime::make_shared<SilenceLimit>(seconds_);
    }

private:
    int seconds_;
};

void InstallPlatform() {
    static std::once_flag once;
    std::call_once(once, [] { vmime::platform::setHandler<vmime::platforms::posix::posixHandler>(); });
}

// Plain connections: the services are expected on this machine or a trusted network.
void ConfigureConnection(vmime::net::service& service, const ServiceUrl& url, int timeout_seconds) {
    service.setProperty("connection.tls", false);
    service.setProperty("connection.tls.required", false);
    service.setProperty("server.address", url.host.empty() ? std::string("localhost") : url.host);
    if (!url.port.empty()) service.setProperty("server.port", url.port);
    service.setTimeoutHandlerFactory(
        vmime::make_shared<SilenceLimitFactory>(timeout_seconds > 0 ? timeout_seconds : 1));
}

std::string SenderOf(vmime::net::message& message) {
    const vmime::shared_ptr<const vmime::header> header = message.getHeader();
    if (!header || !header->hasField(vmime::fields::FROM)) return {};
    const auto from = header->findField(vmime::fields::FROM)->getValue<vmime::mailbox>();
    return from ? from->getEmail().toString() : std::string();
}

std::string MessageIdOf(vmime::net::message& message) {
    const vmime::shared_ptr<const vmime::header> header = message.getHeader();
    if (!header || !header->hasField(vmime::fields::MESSAGE_ID)) return {};
    const auto id = header->findField(vmime::fields::MESSAGE_ID)->getValue<vmime::messageId>();
    return id ? id->getId() : std::string();
}

// "yyyymmddhhmmss" in universal time, so that the texts sort as the times do.
std::string DateOf(vmime::net::message& message) {
    const vmime::shared_ptr<const vmime::header> header = message.getHeader();
    if (!header || !header->hasField(vmime::fields::DATE)) return {};
    const auto date = header->findField(vmime::fields::DATE)->getValue<vmime::datetime>();
    if (!date || date->getYear() <= 1970) return {};
    const vmime::datetime utc = vmime::utility::datetimeUtils::toUniversalTime(*date);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", utc.getYear(), utc.getMonth(), utc.getDay(),
                  utc.getHour(), utc.getMinute(), utc.getSecond());
    return text;
}

// A name in the destination's folder that no other writer uses.
std::filesystem::path TemporaryNameFor(const std::filesystem::path& destination) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temp = destination;
    temp += ".part" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    return temp;
}

}  // namespace

MailError ResolveMailAddress(std::string_view address, std::string& display_name) {
    return Guarded([&]() -> MailError {
        vmime::mailbox mailbox;
        mailbox.parse(std::string(address));
        const vmime::emailAddress& email = mailbox.getEmail();
        if (email.getLocalName().isEmpty() || email.getDomainName().isEmpty()) {
            return Failure(kMailUnknownRecipient, "Unknown recipient", address);
        }
        const std::string name = mailbox.getName().getConvertedText(vmime::charsets::UTF_8);
        display_name = name.empty() ? email.toString() : name;
        return {};
    });
}

struct MailSession::Impl {
    MailServiceConfig config;
    vmime::shared_ptr<vmime::net::session> session;
    vmime::shared_ptr<vmime::net::store> store;
    vmime::shared_ptr<vmime::net::folder> inbox;
    std::vector<vmime::shared_ptr<vmime::net::message>> unread;

    MailError Connect() {
        const std::optional<ServiceUrl> url = ParseServiceUrl(config.store);
        if (!url) return Failure(kMailLoginFailure, "Login has failed", "unusable Store: " + config.store);
        vmime::net::folder::path inbox_path;
        if (url->scheme == "maildir") {
            // The named folder is the inbox itself (its new, cur and tmp): the store is opened
            // on its parent, where a folder's files sit in a sub-folder of the folder's name.
            std::filesystem::path folder = std::filesystem::path(url->path).lexically_normal();
            if (!folder.has_filename()) folder = folder.parent_path();
            if (!folder.has_filename() || !folder.has_parent_path()) {
                return Failure(kMailLoginFailure, "Login has failed", "Store names no folder: " + config.store);
            }
            store = session->getStore("maildir");
            store->setProperty("server.rootpath", folder.parent_path().string());
            inbox_path = vmime::net::folder::path(vmime::net::folder::path::component(folder.filename().string()));
        } else if (url->scheme == "imap") {
            store = session->getStore("imap");
            ConfigureConnection(*store, *url, config.timeout_seconds);
            store->setProperty("options.sasl", false);
            store->setProperty("auth.username", config.user);
            store->setProperty("auth.password", config.password);
        } else {
            return Failure(kMailLoginFailure, "Login has failed", "unknown kind of Store: " + url->scheme);
        }
        store->connect();
        inbox = url->scheme == "maildir" ? store->getFolder(inbox_path) : store->getDefaultFolder();
        if (url->scheme == "maildir" && !inbox->exists()) inbox->create(vmime::net::folderAttributes());
        inbox->open(vmime::net::folder::MODE_READ_WRITE);
        return {};
    }

    vmime::shared_ptr<vmime::net::transport> OpenTransport(MailError& error) {
        const std::optional<ServiceUrl> url = ParseServiceUrl(config.transport);
        if (!url) {
            error =
                Failure(kMailFailure, "Unspecified failure has occurred", "unusable Transport: " + config.transport);
            return nullptr;
        }
        vmime::shared_ptr<vmime::net::transport> transport;
        if (url->scheme == "smtp") {
            transport = session->getTransport("smtp");
            ConfigureConnection(*transport, *url, config.timeout_seconds);
            const bool authenticate = !url->user.empty();
            transport->setProperty("options.need-authentication", authenticate);
            if (authenticate) {
                transport->setProperty("auth.username", url->user);
                transport->setProperty("auth.password", config.password);
            }
        } else if (url->scheme == "sendmail") {
            transport = session->getTransport("sendmail");
            if (!url->path.empty()) transport->setProperty("binpath", url->path);
        } else {
            error =
                Failure(kMailFailure, "Unspecified failure has occurred", "unknown kind of Transport: " + url->scheme);
            return nullptr;
        }
        return transport;
    }

    // The attachments of a fetched mail. Peeking keeps the mail unread until its attachment is
    // safely stored.
    std::vector<vmime::shared_ptr<const vmime::attachment>> Attachments(std::size_t index) {
        std::ostringstream raw;
        vmime::utility::outputStreamAdapter raw_out(raw);
        unread[index]->extract(raw_out, nullptr, 0, static_cast<std::size_t>(-1), true);
        auto parsed = vmime::make_shared<vmime::message>();
        parsed->parse(raw.str());
        return vmime::attachmentHelper::findAttachmentsInMessage(parsed);
    }

    MailError CheckIndex(std::size_t index) const {
        if (index < unread.size()) return {};
        return Failure(kMailFailure, "Unspecified failure has occurred", "no fetched mail " + std::to_string(index));
    }
};

MailSession::MailSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

MailSession::~MailSession() { Logoff(); }

MailError MailSession::Logon(const MailServiceConfig& config, std::unique_ptr<MailSession>& session) {
    InstallPlatform();
    auto impl = std::make_unique<Impl>();
    impl->config = config;
    const MailError error = Guarded([&]() -> MailError {
        impl->session = vmime::net::session::create();
        return impl->Connect();
    });
    if (error.failed()) {
        // Drop what was opened while the exception mapping still has the context.
        Guarded([&]() -> MailError {
            if (impl->store && impl->store->isConnected()) impl->store->disconnect();
            return {};
        });
        return error;
    }
    session.reset(new MailSession(std::move(impl)));
    return {};
}

namespace {
MailError NotLoggedOn() { return Failure(kMailFailure, "Unspecified failure has occurred", "not logged on"); }
}  // namespace

MailError MailSession::FetchUnread(std::vector<std::string>& senders) {
    senders.clear();
    std::vector<FetchedMail> mails;
    const MailError error = FetchUnreadMails(mails);
    for (const FetchedMail& mail : mails) senders.push_back(mail.sender);
    return error;
}

MailError MailSession::FetchUnreadMails(std::vector<FetchedMail>& mails) {
    mails.clear();
    if (!impl_) return NotLoggedOn();
    impl_->unread.clear();
    return Guarded([&]() -> MailError {
        if (impl_->inbox->getMessageCount() == 0) return {};
        auto messages = impl_->inbox->getMessages(vmime::net::messageSet::byNumber(1, -1));
        impl_->inbox->fetchMessages(
            messages, vmime::net::fetchAttributes(vmime::net::fetchAttributes::FLAGS |
                                                  vmime::net::fetchAttributes::ENVELOPE |
                                                  vmime::net::fetchAttributes::UID));
        for (const auto& message : messages) {
            const int flags = message->getFlags();
            if ((flags & vmime::net::message::FLAG_SEEN) != 0) continue;
            impl_->unread.push_back(message);
            mails.push_back(
                FetchedMail{SenderOf(*message), message->getUID(), MessageIdOf(*message), DateOf(*message)});
        }
        return {};
    });
}

MailError MailSession::HasAttachment(std::size_t index, bool& found) {
    found = false;
    if (!impl_) return NotLoggedOn();
    if (MailError error = impl_->CheckIndex(index); error.failed()) return error;
    return Guarded([&]() -> MailError {
        found = !impl_->Attachments(index).empty();
        return {};
    });
}

MailError MailSession::SaveFirstAttachment(std::size_t index, const std::filesystem::path& destination, bool& found) {
    found = false;
    if (!impl_) return NotLoggedOn();
    if (MailError error = impl_->CheckIndex(index); error.failed()) return error;
    const std::filesystem::path temp = TemporaryNameFor(destination);
    MailError error = Guarded([&]() -> MailError {
        const auto attachments = impl_->Attachments(index);
        if (attachments.empty()) return {};
        found = true;
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            if (!out) return Failure(kMailAttachmentWriteFailure, "Attachment write failure", temp.string());
            vmime::utility::outputStreamAdapter file_out(out);
            attachments.front()->getData()->extract(file_out);
            file_out.flush();
            out.close();
            if (!out) return Failure(kMailAttachmentWriteFailure, "Attachment write failure", temp.string());
        }
        std::error_code ec;
        std::filesystem::rename(temp, destination, ec);
        if (ec)
            return Failure(kMailAttachmentWriteFailure, "Attachment write failure",
                           destination.string() + ": " + ec.message());
        return {};
    });
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    return error;
}

MailError MailSession::MarkRead(std::size_t index) {
    if (!impl_) return NotLoggedOn();
    if (MailError error = impl_->CheckIndex(index); error.failed()) return error;
    return Guarded([&]() -> MailError {
        impl_->unread[index]->setFlags(vmime::net::message::FLAG_SEEN, vmime::net::message::FLAG_MODE_ADD);
        return {};
    });
}

MailError MailSession::Send(const OutgoingMail& mail) {
    if (!impl_) return NotLoggedOn();
    {
        std::ifstream probe(mail.attachment, std::ios::binary);
        if (!probe) return Failure(kMailAttachmentNotFound, "Attachment not found", mail.attachment.string());
    }
    return Guarded([&]() -> MailError {
        MailError error;
        const auto transport = impl_->OpenTransport(error);
        if (!transport) return error;

        vmime::messageBuilder builder;
        builder.setExpeditor(vmime::mailbox(mail.from));
        vmime::addressList recipients;
        recipients.appendAddress(vmime::make_shared<vmime::mailbox>(mail.to));
        builder.setRecipients(recipients);
        builder.setSubject(vmime::text(mail.subject, vmime::charsets::UTF_8));
        builder.getTextPart()->setCharset(vmime::charsets::UTF_8);
        builder.getTextPart()->setText(vmime::make_shared<vmime::stringContentHandler>(mail.body));
        builder.appendAttachment(vmime::make_shared<vmime::fileAttachment>(
            mail.attachment.string(), vmime::mediaType("application/octet-stream")));
        const vmime::shared_ptr<vmime::message> message = builder.construct();

        transport->connect();
        try {
            transport->send(message);
        } catch (...) {
            try {
                transport->disconnect();
            } catch (...) {
            }
            throw;
        }
        transport->disconnect();
        return {};
    });
}

void MailSession::Logoff() {
    if (!impl_) return;
    Guarded([&]() -> MailError {
        impl_->unread.clear();
        if (impl_->inbox && impl_->inbox->isOpen()) impl_->inbox->close(false);
        impl_->inbox.reset();
        if (impl_->store && impl_->store->isConnected()) impl_->store->disconnect();
        impl_->store.reset();
        return {};
    });
    impl_.reset();
}

}  // namespace edi
