// How a connection to a mail server is made secure: when TLS is used and required, and
// whether the server's certificate is accepted for the host the site configured.
// Certificates are checked with GnuTLS against the system's CA store (ca-certificates),
// a site CA file, or one pinned certificate.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vmime::security::cert {
class certificateVerifier;
}

namespace edi {

// The [MAPI] keys that shape secure connections.
struct TlsSettings {
    std::string ca_file;       // CAFile: PEM certificates trusted besides the system's CA store
    std::string fingerprint;   // CertFingerprint: SHA-256 of the one server certificate accepted
    bool allow_plain = false;  // AllowPlain: connections (and logons) without TLS are allowed
};

// "localhost", an IPv4 address in 127.0.0.0/8 or ::1, as written; names are not resolved.
bool IsLoopbackHost(std::string_view host);

struct TlsPolicy {
    bool required = true;  // no TLS, no connection (TLS is always asked for)
};

// TLS is required for a host that is not loopback and whenever user name or password would
// go over the connection, unless AllowPlain is set.
TlsPolicy DecideTls(std::string_view host, bool sends_credentials, bool allow_plain);

// 64 lower-case hex digits from a SHA-256 fingerprint written with or without colons or
// blanks, optionally after "sha256:" or "SHA256/"; nothing when the text is no fingerprint.
std::optional<std::string> NormalizeFingerprint(std::string_view text);

// Empty when the chain (DER certificates, the server's own first) is good for host;
// otherwise the reason it is refused, for the operator and ERR.LOG.
std::string CheckServerCertificate(const std::vector<std::string>& der_chain, const std::string& host,
                                   const TlsSettings& settings);

// Empty when the settings can be used (CA file readable and holding a certificate,
// fingerprint well formed); otherwise what is wrong with them.
std::string CheckTlsSettings(const TlsSettings& settings);

// The verifier handed to vmime: it checks against the host the site configured (never a
// name found by reverse lookup) and throws a certificate exception with the reason.
std::shared_ptr<vmime::security::cert::certificateVerifier> MakeCertificateVerifier(const std::string& host,
                                                                                    const TlsSettings& settings);

}  // namespace edi
