#include "transfer/MailService.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <optional>
#include <vmime/platforms/posix/posixHandler.hpp>
#include <vmime/security/cert/certificateException.hpp>
#include <vmime/vmime.hpp>

#include "transfer/MailInbox.h"
#include "transfer/MailSender.h"

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
    } catch (const vmime::security::cert::certificateException& e) {
        return Failure(kMailSecurityFailure, "Secure connection refused", e.what());
    } catch (const vmime::exceptions::tls_exception& e) {
        return Failure(kMailSecurityFailure, "Secure connection refused: the TLS handshake failed", e.what());
    } catch (const vmime::exceptions::command_error& e) {
        // A refused STARTTLS only ends the connection where TLS is required.
        if (e.command().rfind("STARTTLS", 0) == 0) {
            return Failure(kMailSecurityFailure, "Secure connection refused: the server offers no TLS",
                           "STARTTLS answered: " + e.response());
        }
        return Failure(kMailFailure, "Unspecified failure has occurred", e.what());
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

// The last lines the servers of one session sent, so that a refused logon can say what the
// server answered. Lines sent to the server (the password among them) are not kept.
class ServerAnswers final : public vmime::net::tracerFactory {
public:
    vmime::shared_ptr<vmime::net::tracer> create(vmime::shared_ptr<vmime::net::service>, const int) override {
        return vmime::make_shared<Tracer>(*this);
    }
    std::string Last() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_;
    }

private:
    class Tracer final : public vmime::net::tracer {
    public:
        explicit Tracer(ServerAnswers& answers) : answers_(answers) {}
        void traceSend(const vmime::string&) override {}
        void traceReceive(const vmime::string& line) override {
            std::lock_guard<std::mutex> lock(answers_.mutex_);
            answers_.last_ = line.substr(0, 300);
        }

    private:
        ServerAnswers& answers_;
    };
    mutable std::mutex mutex_;
    std::string last_;
};

// A logon refusal names what the server answered.
MailError WithServerAnswer(MailError error, const ServerAnswers& answers) {
    const std::string answer = answers.Last();
    if (error.number == kMailLoginFailure && !answer.empty()) error.description += " (server answered: " + answer + ")";
    return error;
}

void InstallPlatform() {
    static std::once_flag once;
    std::call_once(once, [] { vmime::platform::setHandler<vmime::platforms::posix::posixHandler>(); });
}

std::string HostOf(const ServiceUrl& url) {
    std::string host = url.host.empty() ? std::string("localhost") : url.host;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return host;
}

// TLS from the first byte for imaps and smtps, STARTTLS otherwise; required as DecideTls
// says, and the certificate checked against the configured host.
void ConfigureConnection(vmime::net::service& service, const ServiceUrl& url, const MailServiceConfig& config,
                         bool sends_credentials, const vmime::shared_ptr<ServerAnswers>& answers) {
    const std::string host = HostOf(url);
    const TlsPolicy policy = DecideTls(host, sends_credentials, config.tls.allow_plain);
    service.setProperty("connection.tls", true);
    service.setProperty("connection.tls.required", policy.required);
    service.setCertificateVerifier(MakeCertificateVerifier(host, config.tls));
    service.setProperty("server.address", host);
    if (!url.port.empty()) service.setProperty("server.port", url.port);
    service.setTimeoutHandlerFactory(
        vmime::make_shared<SilenceLimitFactory>(config.timeout_seconds > 0 ? config.timeout_seconds : 1));
    service.setTracerFactory(answers);
}

MailError CheckTls(const MailServiceConfig& config) {
    const std::string problem = CheckTlsSettings(config.tls);
    if (problem.empty()) return {};
    return Failure(kMailSecurityFailure, "Secure connection refused", problem);
}

// "yyyymmddhhmmss" in universal time, so that the texts sort as the times do; empty without
// a usable date.
std::string UniversalDate(const std::vector<std::string>& dates) {
    if (dates.empty()) return {};
    vmime::datetime date;
    date.parse(dates.front());
    if (date.getYear() <= 1970) return {};
    const vmime::datetime utc = vmime::utility::datetimeUtils::toUniversalTime(date);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", utc.getYear(), utc.getMonth(), utc.getDay(),
                  utc.getHour(), utc.getMinute(), utc.getSecond());
    return text;
}

std::string MessageIdOf(const std::vector<std::string>& ids) {
    if (ids.empty()) return {};
    vmime::messageId id;
    id.parse(ids.front());
    return id.getId();
}

// A mail as the listing gives it, from its first kMailHeaderLimit bytes.
FetchedMail FetchedFrom(const std::string& id, const std::string& start) {
    FetchedMail mail;
    std::size_t end = start.find("\r\n\r\n");
    if (end == std::string::npos) end = start.find("\n\n");
    mail.header_whole = end != std::string::npos || start.size() < kMailHeaderLimit;
    mail.header = ParseHeaderBlock(start);
    // A Maildir file's name gains flags as the mail is read: its id is the part before them.
    mail.uid = id.substr(0, id.find(':'));
    mail.message_id = MessageIdOf(FieldValues(mail.header, "Message-ID"));
    mail.date = UniversalDate(FieldValues(mail.header, "Date"));
    const std::vector<std::string> froms = FieldValues(mail.header, "From");
    if (froms.size() == 1) {
        const std::optional<std::vector<Mailbox>> mailboxes = ParseMailboxList(froms.front());
        if (mailboxes && mailboxes->size() == 1) mail.sender = mailboxes->front().address;
    }
    return mail;
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
    vmime::shared_ptr<vmime::net::store> store;  // IMAP only
    std::unique_ptr<Inbox> inbox;
    std::vector<std::string> unread;  // the inbox's ids of the fetched mails
    vmime::shared_ptr<ServerAnswers> answers = vmime::make_shared<ServerAnswers>();

    MailError Connect() {
        const std::optional<ServiceUrl> url = ParseServiceUrl(config.store);
        if (!url) return Failure(kMailLoginFailure, "Login has failed", "unusable Store: " + config.store);
        if (url->scheme == "maildir") {
            // The named folder is the inbox itself (its new, cur and tmp).
            std::filesystem::path folder = std::filesystem::path(url->path).lexically_normal();
            if (!folder.has_filename()) folder = folder.parent_path();
            if (!folder.has_filename()) {
                return Failure(kMailLoginFailure, "Login has failed", "Store names no folder: " + config.store);
            }
            // Made here, so that a folder that cannot be made is reported with the system's reason.
            for (const char* sub : {"new", "cur", "tmp"}) {
                std::error_code ec;
                std::filesystem::create_directories(folder / sub, ec);
                if (ec) {
                    return Failure(
                        kMailLoginFailure, "Login has failed",
                        "the Maildir folder " + (folder / sub).string() + " cannot be made: " + ec.message());
                }
            }
            inbox = OpenMaildirInbox(folder);
            return {};
        }
        if (url->scheme != "imap" && url->scheme != "imaps") {
            return Failure(kMailLoginFailure, "Login has failed", "unknown kind of Store: " + url->scheme);
        }
        if (MailError error = CheckTls(config); error.failed()) return error;
        store = session->getStore(url->scheme);
        ConfigureConnection(*store, *url, config, true, answers);
        store->setProperty("options.sasl", false);
        store->setProperty("auth.username", config.user);
        store->setProperty("auth.password", config.password);
        store->connect();
        inbox = OpenImapInbox(*store);
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
        if (url->scheme == "smtp" || url->scheme == "smtps") {
            if (error = CheckTls(config); error.failed()) return nullptr;
            transport = session->getTransport(url->scheme);
            const bool authenticate = !url->user.empty();
            ConfigureConnection(*transport, *url, config, authenticate, answers);
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
    const MailError error = WithServerAnswer(Guarded([&]() -> MailError {
                                                 impl->session = vmime::net::session::create();
                                                 // TLS 1.2 or later with GnuTLS's usual cipher suites.
                                                 auto tls = vmime::make_shared<vmime::net::tls::TLSProperties>();
                                                 tls->setCipherSuite("NORMAL:-VERS-SSL3.0:-VERS-TLS1.0:-VERS-TLS1.1");
                                                 impl->session->setTLSProperties(tls);
                                                 return impl->Connect();
                                             }),
                                             *impl->answers);
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

MailError MailSession::FetchUnreadMails(std::vector<FetchedMail>& mails, const std::string& from) {
    mails.clear();
    if (!impl_) return NotLoggedOn();
    impl_->unread.clear();
    return Guarded([&]() -> MailError {
        std::vector<std::string> unread = impl_->inbox->ListUnread(from);
        for (const std::string& id : unread) mails.push_back(FetchedFrom(id, impl_->inbox->ReadStart(id, kMailHeaderLimit)));
        impl_->unread = std::move(unread);
        return {};
    });
}

MailError MailSession::SaveAttachment(std::size_t index, const std::filesystem::path& destination,
                                      SavedAttachment& saved) {
    saved = SavedAttachment{};
    if (!impl_) return NotLoggedOn();
    if (MailError error = impl_->CheckIndex(index); error.failed()) return error;
    return Guarded([&]() -> MailError {
        AttachmentFile file(destination);
        AttachmentExtractor extractor(file);
        // Reading leaves the mail unread until its attachment is safely stored.
        impl_->inbox->ReadAll(impl_->unread[index],
                              [&](const char* data, std::size_t size) { extractor.Write(data, size); });
        saved.status = extractor.Finish();
        saved.detail = extractor.detail();
        if (saved.status == AttachmentStatus::kComplete && !file.Commit())
            saved.status = AttachmentStatus::kWriteFailed;
        if (saved.status == AttachmentStatus::kWriteFailed) {
            return Failure(kMailAttachmentWriteFailure, "Attachment write failure", file.error());
        }
        return {};
    });
}

MailError MailSession::MarkRead(std::size_t index) {
    if (!impl_) return NotLoggedOn();
    if (MailError error = impl_->CheckIndex(index); error.failed()) return error;
    return Guarded([&]() -> MailError {
        impl_->inbox->MarkRead(impl_->unread[index]);
        return {};
    });
}

MailError MailSession::Send(const OutgoingMail& mail) {
    if (!impl_) return NotLoggedOn();
    {
        std::ifstream probe(mail.attachment, std::ios::binary);
        if (!probe) return Failure(kMailAttachmentNotFound, "Attachment not found", mail.attachment.string());
    }
    return WithServerAnswer(
        Guarded([&]() -> MailError {
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
        }),
        *impl_->answers);
}

void MailSession::Logoff() {
    if (!impl_) return;
    Guarded([&]() -> MailError {
        impl_->unread.clear();
        impl_->inbox.reset();
        if (impl_->store && impl_->store->isConnected()) impl_->store->disconnect();
        impl_->store.reset();
        return {};
    });
    impl_.reset();
}

}  // namespace edi
