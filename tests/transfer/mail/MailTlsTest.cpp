// Secure connections against the suite's Dovecot and SMTP servers and the CA the
// servers' script made with openssl.

#include <iostream>
#include <sstream>

#include "MailFixtures.h"
#include "transfer/MailTls.h"

namespace edi {
namespace {

namespace fs = std::filesystem;

// TLS is required away from loopback and for every logon; pinned fingerprints are read in their
// usual spellings.
TEST(MailTlsPolicyTest, WhenTlsIsRequiredAndHowFingerprintsAreWritten) {
    for (const char* host : {"localhost", "LOCALHOST", "127.0.0.1", "127.9.8.7", "::1", "[::1]", "::ffff:127.0.0.1"}) {
        EXPECT_FALSE(DecideTls(host, false, false).required) << host;
        EXPECT_TRUE(DecideTls(host, true, false).required) << host << " with logon";
    }
    for (const char* host : {"mail.example.com", "localhost.example.com", "128.0.0.1", "127.1", "0.0.0.0", "::2"}) {
        EXPECT_TRUE(DecideTls(host, false, false).required) << host;
        EXPECT_FALSE(DecideTls(host, true, true).required) << host << " with logon, AllowPlain";
    }

    const std::string hex = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    std::string colons;
    for (std::size_t i = 0; i < hex.size(); i += 2) colons += (colons.empty() ? "" : ":") + hex.substr(i, 2);
    for (const std::string& text : {hex, colons, "SHA256:" + colons, "sha256/" + hex, " " + colons + " "})
        EXPECT_EQ(NormalizeFingerprint(text), hex) << text;
    for (const std::string& text : {hex.substr(1), hex + "0", "md5:" + hex, hex.substr(1) + "g", std::string()})
        EXPECT_FALSE(NormalizeFingerprint(text)) << text;
}

class MailTlsTest : public test::MailTransferFixture {
protected:
    std::string Url(const char* scheme, const std::string& host, int port, const std::string& user = {}) const {
        return std::string(scheme) + "://" + (user.empty() ? "" : user + "@") + host + ":" + std::to_string(port);
    }
    // Rows that go to this machine by a name other than loopback's are skipped where it has none.
    bool Skipped(const char* row, bool remote) const {
        if (!remote || !servers_.Value("remote_host").empty()) return false;
        std::cout << "note: this machine's name does not resolve to loopback: row \"" << row << "\" not run\n";
        return true;
    }
};

TEST_F(MailTlsTest, ImapLogsOnOnlyOverAVerifiedConnection) {
    const std::string ca = CaFile();
    const std::string plain_password = "never-in-clear";
    const std::string pin_selfsigned =
        "CertFingerprint=" + test::FingerprintOf(servers_.Path("pki") / "selfsigned.pem") + "\r\n";
    const int imap = servers_.Port("imap");
    const int imaps = servers_.Port("imaps");
    const std::string remote = servers_.Value("remote_host");
    struct Row {
        const char* name;
        std::string store;
        std::string keys;
        const char* refusal;  // nullptr: logs on
        std::string user = "edi-tls";
        bool remote = false;
    };
    const std::vector<Row> rows = {
        {"imaps, site CA", Url("imaps", "localhost", imaps), ca, nullptr},
        {"STARTTLS, site CA", Url("imap", "localhost", imap), ca, nullptr},
        {"STARTTLS to a name that is not loopback", Url("imap", remote, imap), ca, nullptr, "edi-tls", true},
        {"self-signed", Url("imaps", "127.0.0.2", imaps), ca, "it is not issued by a trusted authority"},
        {"expired", Url("imaps", "127.0.0.3", imaps), ca, "it has expired"},
        {"wrong host name", Url("imaps", "127.0.0.4", imaps), ca, "issued for another host name than 127.0.0.4"},
        {"CA not configured", Url("imaps", "localhost", imaps), "", "it is not issued by a trusted authority"},
        {"STARTTLS, CA not configured", Url("imap", "localhost", imap), "", "it is not issued by a trusted authority"},
        {"pinned self-signed", Url("imaps", "127.0.0.2", imaps), pin_selfsigned, nullptr},
        {"pin names another certificate", Url("imaps", "localhost", imaps), ca + pin_selfsigned,
         "it is not the certificate CertFingerprint names"},
        {"pin that is no fingerprint", Url("imaps", "localhost", imaps), ca + "CertFingerprint=12:34\r\n",
         "CertFingerprint is no SHA-256 fingerprint"},
        {"CA file missing", Url("imaps", "localhost", imaps), "CAFile=" + (dir_ / "none.pem").string() + "\r\n",
         "holds no readable PEM certificate"},
        {"imaps to a port without TLS", Url("imaps", "127.0.0.5", imap), ca, "the TLS handshake failed"},
        {"server offers no TLS", Url("imap", "127.0.0.5", imap), ca, "the server offers no TLS", "edi-plain"},
        {"server offers no TLS, AllowPlain", Url("imap", "127.0.0.5", imap), ca + "AllowPlain=1\r\n", nullptr,
         "edi-plain"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (Skipped(row.name, row.remote)) continue;
        const std::string password = row.user == "edi-plain" ? plain_password : "secret";
        const bool plain_allowed = row.keys.find("AllowPlain") != std::string::npos;
        fs::remove(work_.Log.file);
        const std::size_t leaks_before = test::FilesHolding(servers_.Path("rawlog"), plain_password);
        WriteIni("ProfileName=" + row.user + "\r\nPassword=" + password + "\r\nStore=" + row.store + "\r\n" + row.keys +
                 "Timeout=10\r\n");
        MailRequest request = Request("R", "C");
        if (row.refusal == nullptr) {
            RunWell(request);
        } else {
            EXPECT_EQ(Run(request), 9);
            ASSERT_EQ(boxes_.shown().size(), 1u);
            EXPECT_EQ(boxes_.shown()[0].text.rfind("Error 32030: Secure connection refused", 0), 0u) << Shown();
            EXPECT_NE(boxes_.shown()[0].text.find(row.refusal), std::string::npos) << Shown();
            EXPECT_NE(ErrLog().find(std::string("32030mail: Secure connection refused")), std::string::npos);
            EXPECT_NE(ErrLog().find(row.refusal), std::string::npos) << ErrLog();
        }
        EXPECT_EQ(ErrLog().find("32031mail: AllowPlain is set") != std::string::npos, plain_allowed) << ErrLog();
        // What reached the server before logon: the password only where the site allowed it.
        EXPECT_EQ(test::FilesHolding(servers_.Path("rawlog"), plain_password) > leaks_before, plain_allowed);
    }
}

TEST_F(MailTlsTest, SmtpSendsCredentialsAndMailsOnlyOverAVerifiedConnection) {
    test::WriteFile(dir_ / "out" / "00000012_SND_ABC_________.CII", std::string_view("CII"));
    const std::string ca = CaFile();
    const std::string remote = servers_.Value("remote_host");
    struct Row {
        const char* name;
        std::string transport;
        std::string keys;
        const char* refusal;  // nullptr: sent
        int auth_port;        // the port whose server gets the user's AUTH, 0: none
        bool remote = false;
    };
    const std::vector<Row> rows = {
        {"STARTTLS with logon", Url("smtp", "localhost", servers_.Port("starttls"), "edi-send"), ca, nullptr,
         servers_.Port("starttls")},
        {"smtps with logon", Url("smtps", "localhost", servers_.Port("smtps"), "edi-send"), ca, nullptr,
         servers_.Port("smtps")},
        {"logon, server offers no TLS", Url("smtp", "127.0.0.1", servers_.Port("smtp"), "edi-send"), ca,
         "the server offers no TLS", 0},
        {"logon, no TLS, AllowPlain", Url("smtp", "127.0.0.1", servers_.Port("smtp"), "edi-send"),
         ca + "AllowPlain=1\r\n", nullptr, servers_.Port("smtp")},
        {"not loopback, no TLS", Url("smtp", remote, servers_.Port("smtp")), ca, "the server offers no TLS", 0, true},
        {"not loopback, STARTTLS", Url("smtp", remote, servers_.Port("starttls")), ca, nullptr, 0, true},
        {"STARTTLS, CA not configured", Url("smtp", "localhost", servers_.Port("starttls"), "edi-send"), "",
         "it is not issued by a trusted authority", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (Skipped(row.name, row.remote)) continue;
        const std::string partner = Unique() + "@example.com";
        fs::remove(servers_.Path("smtp_auth_log"));
        fs::remove(work_.Log.file);
        WriteIni("ProfileName=edi@example.com\r\nPassword=secret\r\nStore=maildir://" + DefaultInbox().string() +
                 "\r\nTransport=" + row.transport + "\r\n" + row.keys + "Timeout=10\r\n");
        MailRequest request = Request("S", "C");
        request.MailAddress = partner;
        const int outcome = Run(request);
        const std::size_t delivered = test::MailsTo(servers_.Path("smtp_maildir"), partner).size();
        if (row.refusal == nullptr) {
            EXPECT_EQ(outcome, 0) << Shown();
            EXPECT_EQ(delivered, 1u);
        } else {
            EXPECT_EQ(outcome, 9);
            EXPECT_EQ(delivered, 0u);
            ASSERT_EQ(boxes_.shown().size(), 1u);
            EXPECT_NE(boxes_.shown()[0].text.find(row.refusal), std::string::npos) << Shown();
            EXPECT_NE(ErrLog().find(row.refusal), std::string::npos) << ErrLog();
        }
        // Only this test logs on with "secret": other tests' AUTH lines may come in between.
        std::istringstream log(test::ReadText(servers_.Path("smtp_auth_log")));
        std::string auths;
        for (std::string line; std::getline(log, line);) {
            if (line.find(" secret") != std::string::npos) auths += line + "\n";
        }
        // The port of the first AUTH line, none when there was none.
        EXPECT_EQ(auths.substr(0, auths.find(' ')), row.auth_port == 0 ? "" : std::to_string(row.auth_port)) << auths;
    }
}

}  // namespace
}  // namespace edi
