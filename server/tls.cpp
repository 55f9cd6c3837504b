#include "tls.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>

namespace {

using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;
using NumberPtr = std::unique_ptr<BIGNUM, OpenSslFree<BN_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, OpenSslFree<X509_EXTENSION_free>>;
using NamesPtr = std::unique_ptr<GENERAL_NAMES, OpenSslFree<GENERAL_NAMES_free>>;

// RSA rather than a curve: every TLS stack a Windows client may have speaks it.
constexpr int KEY_BITS = 2048;
constexpr long VALID_DAYS = 3650;
// Valid from a day before it is made, for clients whose clocks are behind.
constexpr long BACKDATE_SECONDS = 86400;

std::runtime_error OpenSslError(const std::string &what)
{
    char text[256] = "";
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    ERR_clear_error();
    return std::runtime_error(what + " (" + text + ")");
}

bool Exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

// The names clients may reach the service by: DNS names and IP addresses.
NamesPtr AlternativeNames(const std::vector<std::string> &hosts)
{
    NamesPtr names(sk_GENERAL_NAME_new_null());
    for (const std::string &host : hosts) {
        GENERAL_NAME *name = GENERAL_NAME_new();
        if (!name || !sk_GENERAL_NAME_push(names.get(), name)) {
            GENERAL_NAME_free(name);
            throw OpenSslError("cannot name " + host);
        }
        if (ASN1_OCTET_STRING *address = a2i_IPADDRESS(host.c_str())) {
            GENERAL_NAME_set0_value(name, GEN_IPADD, address);
            continue;
        }
        ASN1_IA5STRING *dns = ASN1_IA5STRING_new();
        if (!dns || !ASN1_STRING_set(dns, host.data(), int(host.size()))) {
            ASN1_IA5STRING_free(dns);
            throw OpenSslError("cannot name " + host);
        }
        GENERAL_NAME_set0_value(name, GEN_DNS, dns);
    }
    return names;
}

void AddExtension(X509 *certificate, int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    if (!extension || !X509_add_ext(certificate, extension.get(), -1))
        throw OpenSslError(std::string("cannot add ") + value);
}

X509Ptr MakeCertificate(EVP_PKEY *key, const std::vector<std::string> &hosts)
{
    X509Ptr certificate(X509_new());
    NumberPtr serial(BN_new());
    if (!certificate || !serial || !BN_rand(serial.get(), 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) ||
        !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get())) ||
        !X509_set_version(certificate.get(), X509_VERSION_3) ||
        !X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -BACKDATE_SECONDS) ||
        !X509_time_adj_ex(X509_getm_notAfter(certificate.get()), VALID_DAYS, 0, nullptr) ||
        !X509_set_pubkey(certificate.get(), key))
        throw OpenSslError("cannot make a certificate");
    X509_NAME *subject = X509_get_subject_name(certificate.get());
    const auto *common = reinterpret_cast<const unsigned char *>(hosts.front().c_str());
    if (!X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8, common, -1, -1, 0) ||
        !X509_set_issuer_name(certificate.get(), subject))
        throw OpenSslError("cannot name the certificate " + hosts.front());
    if (!X509_add1_ext_i2d(certificate.get(), NID_subject_alt_name, AlternativeNames(hosts).get(), 0, 0))
        throw OpenSslError("cannot add the host names");
    AddExtension(certificate.get(), NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(certificate.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment");
    AddExtension(certificate.get(), NID_ext_key_usage, "serverAuth");
    if (!X509_sign(certificate.get(), key, EVP_sha256()))
        throw OpenSslError("cannot sign the certificate");
    return certificate;
}

// Writes a new file that must not exist yet, with `mode` from the start.
void WriteNew(const std::string &path, mode_t mode, const std::function<bool(FILE *)> &write)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path + ": " + strerror(errno));
    FILE *file = fdopen(fd, "w");
    if (!file) {
        close(fd);
        remove(path.c_str());
        throw std::runtime_error("cannot write " + path);
    }
    const bool written = write(file);
    if (fclose(file) != 0 || !written) {
        remove(path.c_str());
        throw OpenSslError("cannot write " + path);
    }
}

} // namespace

TlsContext::TlsContext(const std::string &certificateFile, const std::string &keyFile)
    : m_context(SSL_CTX_new(TLS_server_method()))
{
    SSL_CTX *context = m_context.get();
    if (!context || !SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION))
        throw OpenSslError("cannot set up TLS");
    // Idle connections keep no buffers; a send goes as far as the socket takes it.
    SSL_CTX_set_mode(context, SSL_MODE_RELEASE_BUFFERS | SSL_MODE_ENABLE_PARTIAL_WRITE);
    // A client that half-closes its socket after the request, as over plain
    // HTTP, ends cleanly and still hears the reply and TLS's end.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (SSL_CTX_use_certificate_chain_file(context, certificateFile.c_str()) != 1)
        throw OpenSslError("cannot read the certificate " + certificateFile);
    // A key of another type is taken without a word, and leaves the
    // certificate without its key: checked.
    if (SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context) != 1)
        throw OpenSslError("cannot use the key " + keyFile + " with " + certificateFile);
}

SslPtr TlsContext::NewSession(int fd) const
{
    SslPtr session(SSL_new(m_context.get()));
    if (!session || !SSL_set_fd(session.get(), fd))
        return nullptr;
    SSL_set_accept_state(session.get());
    return session;
}

std::string TlsContext::Fingerprint() const
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!X509_digest(SSL_CTX_get0_certificate(m_context.get()), EVP_sha256(), digest, &size))
        throw OpenSslError("cannot take the certificate's fingerprint");
    std::string text;
    for (unsigned int i = 0; i < size; i++) {
        char pair[4];
        snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", digest[i]);
        text += pair;
    }
    return text;
}

bool EnsureSelfSigned(const std::string &certificateFile, const std::string &keyFile,
                      const std::vector<std::string> &hosts)
{
    const bool haveCertificate = Exists(certificateFile), haveKey = Exists(keyFile);
    if (haveCertificate && haveKey)
        return false;
    // A lone half may belong to a certificate from elsewhere: never replaced.
    if (haveCertificate || haveKey)
        throw std::runtime_error((haveKey ? keyFile : certificateFile) + " exists without " +
                                 (haveKey ? certificateFile : keyFile));
    if (hosts.empty())
        throw std::runtime_error("a self-signed certificate needs a host name");
    KeyPtr key(EVP_RSA_gen(KEY_BITS));
    if (!key)
        throw OpenSslError("cannot make a key");
    X509Ptr certificate = MakeCertificate(key.get(), hosts);
    WriteNew(keyFile, 0600, [&](FILE *file) {
        return PEM_write_PrivateKey(file, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    });
    try {
        WriteNew(certificateFile, 0644,
                 [&](FILE *file) { return PEM_write_X509(file, certificate.get()) == 1; });
    } catch (...) {
        remove(keyFile.c_str());
        throw;
    }
    return true;
}
