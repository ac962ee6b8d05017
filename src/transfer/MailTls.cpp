#include "transfer/MailTls.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <cctype>
#include <ctime>
#include <fstream>
#include <memory>
#include <vmime/security/cert/X509Certificate.hpp>
#include <vmime/security/cert/certificateException.hpp>
#include <vmime/security/cert/certificateVerifier.hpp>
#include <vmime/utility/outputStreamStringAdapter.hpp>

namespace edi {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

struct CrtDeleter {
    void operator()(gnutls_x509_crt_int* crt) const { gnutls_x509_crt_deinit(crt); }
};
using Crt = std::unique_ptr<gnutls_x509_crt_int, CrtDeleter>;

struct TrustListDeleter {
    void operator()(gnutls_x509_trust_list_st* list) const { gnutls_x509_trust_list_deinit(list, 1); }
};
using TrustList = std::unique_ptr<gnutls_x509_trust_list_st, TrustListDeleter>;

Crt ImportDer(const std::string& der) {
    gnutls_x509_crt_t raw = nullptr;
    if (gnutls_x509_crt_init(&raw) < 0) return nullptr;
    Crt crt(raw);
    gnutls_datum_t datum{reinterpret_cast<unsigned char*>(const_cast<char*>(der.data())),
                         static_cast<unsigned int>(der.size())};
    if (gnutls_x509_crt_import(crt.get(), &datum, GNUTLS_X509_FMT_DER) < 0) return nullptr;
    return crt;
}

std::string Sha256Of(gnutls_x509_crt_t crt) {
    unsigned char digest[32];
    std::size_t size = sizeof digest;
    if (gnutls_x509_crt_get_fingerprint(crt, GNUTLS_DIG_SHA256, digest, &size) < 0 || size != sizeof digest) return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : digest) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
    }
    return hex;
}

std::string Colons(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        if (!out.empty()) out += ':';
        out += hex.substr(i, 2);
    }
    return out;
}

std::string DateOf(std::time_t when) {
    if (when == static_cast<std::time_t>(-1)) return "?";
    std::tm tm{};
    gmtime_r(&when, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &tm);
    return text;
}

std::string SubjectOf(gnutls_x509_crt_t crt) {
    gnutls_datum_t dn{};
    if (gnutls_x509_crt_get_dn2(crt, &dn) < 0) return "?";
    std::string text(reinterpret_cast<const char*>(dn.data), dn.size);
    gnutls_free(dn.data);
    return text;
}

// What the operator needs to recognise the certificate in the log.
std::string Describe(gnutls_x509_crt_t crt) {
    return " (subject " + SubjectOf(crt) + ", valid " + DateOf(gnutls_x509_crt_get_activation_time(crt)) + " to " +
           DateOf(gnutls_x509_crt_get_expiration_time(crt)) + ", SHA-256 " + Colons(Sha256Of(crt)) + ")";
}

std::string ReasonsOf(unsigned status, const std::string& host) {
    std::string reasons;
    const auto add = [&](const std::string& reason) { reasons += (reasons.empty() ? "" : ", ") + reason; };
    if (status & GNUTLS_CERT_EXPIRED) add("it has expired");
    if (status & GNUTLS_CERT_NOT_ACTIVATED) add("it is not valid yet");
    if (status & GNUTLS_CERT_UNEXPECTED_OWNER) add("it is issued for another host name than " + host);
    if (status & GNUTLS_CERT_REVOKED) add("it is revoked");
    if (status & (GNUTLS_CERT_SIGNER_NOT_FOUND | GNUTLS_CERT_SIGNER_NOT_CA | GNUTLS_CERT_SIGNATURE_FAILURE))
        add("it is not issued by a trusted authority (system CA store or CAFile)");
    if (status & GNUTLS_CERT_INSECURE_ALGORITHM) add("it is signed with an insecure algorithm");
    if (status & GNUTLS_CERT_PURPOSE_MISMATCH) add("it is not meant for a server");
    if (reasons.empty()) add("it cannot be verified (status " + std::to_string(status) + ")");
    return reasons;
}

// A pinned certificate needs no issuer, but it must be in its validity period and name the host.
std::string CheckPinned(gnutls_x509_crt_t crt, const std::string& host) {
    const std::time_t now = std::time(nullptr);
    unsigned status = 0;
    if (gnutls_x509_crt_get_expiration_time(crt) < now) status |= GNUTLS_CERT_EXPIRED;
    if (gnutls_x509_crt_get_activation_time(crt) > now) status |= GNUTLS_CERT_NOT_ACTIVATED;
    if (gnutls_x509_crt_check_hostname2(crt, host.c_str(), 0) == 0) status |= GNUTLS_CERT_UNEXPECTED_OWNER;
    return status == 0 ? std::string() : ReasonsOf(status, host);
}

TrustList LoadTrust(const TlsSettings& settings, std::string& error) {
    gnutls_x509_trust_list_t raw = nullptr;
    if (gnutls_x509_trust_list_init(&raw, 0) < 0) {
        error = "GnuTLS cannot make a trust list";
        return nullptr;
    }
    TrustList list(raw);
    // A system without a CA store still works with a site CA file.
    gnutls_x509_trust_list_add_system_trust(list.get(), 0, 0);
    if (!settings.ca_file.empty() && gnutls_x509_trust_list_add_trust_file(list.get(), settings.ca_file.c_str(),
                                                                           nullptr, GNUTLS_X509_FMT_PEM, 0, 0) <= 0) {
        error = "CAFile " + settings.ca_file + " holds no readable PEM certificate";
        return nullptr;
    }
    return list;
}

class BoundVerifier final : public vmime::security::cert::certificateVerifier {
public:
    BoundVerifier(std::string host, TlsSettings settings) : host_(std::move(host)), settings_(std::move(settings)) {}

    // The name vmime passes is the socket's peer name, found by reverse lookup for an
    // address: it is not used.
    void verify(vmime::shared_ptr<vmime::security::cert::certificateChain> chain, const vmime::string&) override {
        std::vector<std::string> der;
        for (std::size_t i = 0; chain && i < chain->getCount(); ++i) {
            const auto x509 = vmime::dynamicCast<vmime::security::cert::X509Certificate>(chain->getAt(i));
            if (!x509) throw vmime::security::cert::certificateException("the server sent no X.509 certificate");
            std::string bytes;
            vmime::utility::outputStreamStringAdapter out(bytes);
            x509->write(out, vmime::security::cert::X509Certificate::FORMAT_DER);
            der.push_back(std::move(bytes));
        }
        const std::string reason = CheckServerCertificate(der, host_, settings_);
        if (!reason.empty()) throw vmime::security::cert::certificateException(reason);
    }

private:
    std::string host_;
    TlsSettings settings_;
};

}  // namespace

bool IsLoopbackHost(std::string_view host) {
    std::string name = Lower(host);
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    if (name == "localhost" || name == "localhost.") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, name.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, name.c_str(), &v6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return false;
}

TlsPolicy DecideTls(std::string_view host, bool sends_credentials, bool allow_plain) {
    TlsPolicy policy;
    policy.required = !allow_plain && (sends_credentials || !IsLoopbackHost(host));
    return policy;
}

std::optional<std::string> NormalizeFingerprint(std::string_view text) {
    std::string lower = Lower(text);
    for (const std::string_view prefix : {"sha256:", "sha256/", "sha-256:"}) {
        if (lower.rfind(prefix, 0) == 0) {
            lower.erase(0, prefix.size());
            break;
        }
    }
    std::string hex;
    for (const char c : lower) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            hex += c;
        } else if (c != ':' && c != ' ' && c != '\t') {
            return std::nullopt;
        }
    }
    if (hex.size() != 64) return std::nullopt;
    return hex;
}

std::string CheckTlsSettings(const TlsSettings& settings) {
    if (!settings.fingerprint.empty() && !NormalizeFingerprint(settings.fingerprint)) {
        return "CertFingerprint is no SHA-256 fingerprint (64 hex digits): " + settings.fingerprint;
    }
    std::string error;
    LoadTrust(settings, error);
    return error;
}

std::string CheckServerCertificate(const std::vector<std::string>& der_chain, const std::string& host,
                                   const TlsSettings& settings) {
    if (der_chain.empty()) return "the server of " + host + " sent no certificate";
    std::vector<Crt> owned;
    std::vector<gnutls_x509_crt_t> chain;
    for (const std::string& der : der_chain) {
        Crt crt = ImportDer(der);
        if (!crt) return "the server of " + host + " sent a certificate that cannot be read";
        chain.push_back(crt.get());
        owned.push_back(std::move(crt));
    }
    const std::string prefix = "certificate of " + host + " refused: ";

    if (!settings.fingerprint.empty()) {
        const std::optional<std::string> pinned = NormalizeFingerprint(settings.fingerprint);
        if (!pinned) return prefix + "CertFingerprint is no SHA-256 fingerprint";
        if (Sha256Of(chain.front()) != *pinned)
            return prefix + "it is not the certificate CertFingerprint names" + Describe(chain.front());
        const std::string reasons = CheckPinned(chain.front(), host);
        return reasons.empty() ? std::string() : prefix + reasons + Describe(chain.front());
    }

    std::string error;
    const TrustList trust = LoadTrust(settings, error);
    if (!trust) return prefix + error;
    gnutls_typed_vdata_st checks[2] = {};
    checks[0].type = GNUTLS_DT_DNS_HOSTNAME;
    checks[0].data = reinterpret_cast<unsigned char*>(const_cast<char*>(host.c_str()));
    checks[1].type = GNUTLS_DT_KEY_PURPOSE_OID;
    checks[1].data = reinterpret_cast<unsigned char*>(const_cast<char*>(GNUTLS_KP_TLS_WWW_SERVER));
    unsigned status = 0;
    const int verified = gnutls_x509_trust_list_verify_crt2(
        trust.get(), chain.data(), static_cast<unsigned>(chain.size()), checks, 2, 0, &status, nullptr);
    if (verified < 0) return prefix + std::string("GnuTLS: ") + gnutls_strerror(verified);
    if (status == 0) return {};
    return prefix + ReasonsOf(status, host) + Describe(chain.front());
}

std::shared_ptr<vmime::security::cert::certificateVerifier> MakeCertificateVerifier(const std::string& host,
                                                                                    const TlsSettings& settings) {
    return std::make_shared<BoundVerifier>(host, settings);
}

}  // namespace edi
