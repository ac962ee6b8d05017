#include "MailFixtures.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <vmime/platforms/posix/posixHandler.hpp>
#include <vmime/utility/encoder/b64Encoder.hpp>
#include <vmime/vmime.hpp>

namespace edi::test {

namespace {

std::string Base64(const std::string& bytes) {
    vmime::utility::inputStreamStringAdapter in(bytes);
    std::string text;
    vmime::utility::outputStreamStringAdapter out(text);
    vmime::utility::encoder::b64Encoder().encode(in, out);
    return text;
}

}  // namespace

MailServers LoadMailServers() {
    MailServers servers;
    const char* state = std::getenv("K500100_MAIL_SERVERS");
    if (state == nullptr) return servers;
    std::ifstream in(std::filesystem::path(state) / "servers.env");
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) servers.values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    servers.loaded = servers.values.count("imap_port") != 0;
    return servers;
}

void ResetImapUser(const MailServers& servers, const std::string& user) {
    std::filesystem::remove_all(servers.Path("imap_mail") / user);
}

void DeliverToImap(const MailServers& servers, const std::string& user, const std::string& raw) {
    const std::string command = "doveadm -c '" + servers.Path("dovecot_conf").string() + "' save -u '" + user + "'";
    FILE* pipe = ::popen(command.c_str(), "w");
    if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
    std::fwrite(raw.data(), 1, raw.size(), pipe);
    if (::pclose(pipe) != 0) throw std::runtime_error("doveadm save failed for " + user);
}

void DeliverToMaildir(const std::filesystem::path& folder, const std::string& raw) {
    static std::atomic<unsigned> counter{0};
    for (const char* sub : {"new", "cur", "tmp"}) std::filesystem::create_directories(folder / sub);
    const std::string name = "test." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".localhost";
    std::ofstream out(folder / "tmp" / name, std::ios::binary);
    out << raw;
    out.close();
    std::filesystem::rename(folder / "tmp" / name, folder / "new" / name);
}

std::string MultipartMail(const std::string& from, const std::string& marker, const std::string& parts,
                          const std::string& extra_header) {
    return "From: " + from + "\r\nTo: edi@site.example\r\nSubject: mail " + marker + "\r\n" + extra_header +
           "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
           "Content-Type: text/plain\r\nContent-Disposition: inline\r\n\r\nsee the file\r\n" +
           parts + "--b--\r\n";
}

std::string AttachmentPart(const std::string& name, const std::string& base64) {
    return "--b\r\nContent-Type: application/octet-stream; name=\"" + name +
           "\"\r\nContent-Disposition: attachment; filename=\"" + name +
           "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + base64 + "\r\n";
}

std::string MakeMail(const std::string& from, const std::string& marker, const std::string& attachment_name,
                     const std::string& attachment_bytes) {
    return MultipartMail(from, marker, AttachmentPart(attachment_name, Base64(attachment_bytes)));
}

std::vector<StoredMail> MailsIn(const std::filesystem::path& maildir) {
    std::vector<StoredMail> mails;
    for (const char* sub : {"new", "cur"}) {
        std::error_code ec;
        for (std::filesystem::directory_iterator it(maildir / sub, ec), end; !ec && it != end; it.increment(ec)) {
            StoredMail mail;
            mail.file = it->path();
            mail.content = ReadText(mail.file);
            const std::string name = mail.file.filename().string();
            const auto info = name.find(":2,");
            mail.seen = info != std::string::npos && name.find('S', info) != std::string::npos;
            mails.push_back(std::move(mail));
        }
    }
    return mails;
}

std::optional<bool> SeenMail(const std::filesystem::path& maildir, const std::string& marker) {
    // Servers may store lines with LF only.
    const std::regex subject("\r?\nSubject: mail " + marker + "\r?\n");
    std::vector<bool> seen;
    for (const StoredMail& mail : MailsIn(maildir)) {
        if (std::regex_search(mail.content, subject)) seen.push_back(mail.seen);
    }
    return seen.size() == 1 ? std::optional<bool>(seen[0]) : std::nullopt;
}

std::vector<ReceivedMail> MailsTo(const std::filesystem::path& maildir, const std::string& to) {
    vmime::platform::setHandler<vmime::platforms::posix::posixHandler>();
    const auto extracted = [](const vmime::contentHandler& content) {
        std::ostringstream bytes;
        vmime::utility::outputStreamAdapter out(bytes);
        content.extract(out);
        return bytes.str();
    };
    std::vector<ReceivedMail> found;
    for (const StoredMail& stored : MailsIn(maildir)) {
        if (!std::regex_search(stored.content, std::regex("\nTo: " + to + "\r?\n"))) continue;
        auto message = vmime::make_shared<vmime::message>();
        message->parse(stored.content);
        const vmime::messageParser parser(message);
        ReceivedMail mail{parser.getSubject().getConvertedText(vmime::charsets::UTF_8), "", {}};
        if (parser.getTextPartCount() > 0) mail.body = extracted(*parser.getTextPartAt(0)->getText());
        for (const auto& attachment : parser.getAttachmentList()) {
            mail.attachments.emplace_back(attachment->getName().getBuffer(), extracted(*attachment->getData()));
        }
        found.push_back(std::move(mail));
    }
    return found;
}

std::size_t FilesHolding(const std::filesystem::path& folder, const std::string& text) {
    std::size_t count = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (ReadText(it->path()).find(text) != std::string::npos) ++count;
    }
    return count;
}

std::string FingerprintOf(const std::filesystem::path& pem) {
    const std::string command = "openssl x509 -noout -fingerprint -sha256 -in '" + pem.string() + "' | cut -d= -f2";
    FILE* pipe = ::popen(command.c_str(), "r");
    char line[256] = {};
    if (pipe == nullptr || std::fgets(line, sizeof line, pipe) == nullptr) line[0] = '\0';
    if (pipe != nullptr) ::pclose(pipe);
    return std::string(line, std::strcspn(line, "\n"));
}

void MailTransferFixture::SetUp() {
    JobTest::SetUp();
    servers_ = LoadMailServers();
    ASSERT_TRUE(servers_.loaded) << "mail servers are not running";
    WriteIni("ProfileName=edi\r\n");
}

std::string MailTransferFixture::Unique() const {
    static int runs = 0;
    return "t" + std::to_string(::getpid()) + "-" + std::to_string(++runs) + "-" + std::to_string(std::time(nullptr));
}

void MailTransferFixture::WriteIni(const std::string& mapi_lines, const std::string& mail_text) {
    WriteSjisFile(dir_ / "EDI.ini", "[MAPI]\r\n" + mapi_lines + "[MAIL]\r\nMAIL-TEXT=" + mail_text + "\r\n");
}

std::string MailTransferFixture::ImapStore(int port) const {
    return "Store=imap://127.0.0.1:" + std::to_string(port) + "\r\n" + CaFile();
}

MailRequest MailTransferFixture::Request(const std::string& direction, const std::string& kind) const {
    MailRequest request;
    request.CenterCode = "ABC";
    request.Serial = 12;
    request.Direction = direction;
    request.DataKind = kind;
    request.MailAddress = kPartner;
    return request;
}

int MailTransferFixture::Run(MailRequest& request) {
    progress_ = RecordedProgress();
    boxes_ = RecordedMessageBoxes();
    return RunMailTransfer(request, work_, progress_, boxes_, clock_);
}

void MailTransferFixture::RunWell(MailRequest request) {
    EXPECT_EQ(Run(request), 0) << Shown();
    EXPECT_EQ(request.Result, "0000");
    EXPECT_TRUE(boxes_.shown().empty()) << Shown();
}

std::filesystem::path MailTransferFixture::Received(const char* kind) const {
    return dir_ / "in" / (std::string("00000012_RCV_ABC_________.") + kind);
}

std::string MailTransferFixture::Shown() const {
    std::string texts;
    for (const MessageRequest& box : boxes_.shown()) texts += box.text + "\n";
    return texts;
}

std::string MailTransferFixture::ErrLog() const { return ReadText(work_.Log.file); }

}  // namespace edi::test
