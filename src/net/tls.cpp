#include "tls.h"
#include <schannel.h>
#include <wincrypt.h>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

const DWORD REQUEST_FLAGS = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                            ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;
// Records are at most 16 KB, and a handshake's certificates a few of them:
// a server that sends more without completing one is not speaking TLS.
const size_t IN_MAX = 256 * 1024;

bool SendRaw(SOCKET s, const char *data, size_t len)
{
    while (len > 0) {
        const int sent = send(s, data, static_cast<int>(std::min<size_t>(len, INT_MAX)), 0);
        if (sent <= 0)
            return false;
        data += sent;
        len -= static_cast<size_t>(sent);
    }
    return true;
}

// A TLS record starts with its content type, 20 to 24; a reply in plain
// text starts with a letter.
bool IsRecordType(unsigned char type)
{
    return type >= 20 && type <= 24;
}

bool SystemTrusts(PCCERT_CONTEXT cert, const char *host)
{
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para, 0, nullptr, &chain))
        return false;
    wchar_t name[256] = L"";
    MultiByteToWideChar(CP_UTF8, 0, host, -1, name, 256);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = name;
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    const bool trusted = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) &&
                         status.dwError == 0;
    CertFreeCertificateChain(chain);
    return trusted;
}

bool Fingerprint(PCCERT_CONTEXT cert, char (&out)[FINGERPRINT_SIZE])
{
    BYTE hash[32];
    DWORD size = sizeof hash;
    if (!CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, cert->pbCertEncoded, cert->cbCertEncoded,
                               hash, &size) ||
        size != sizeof hash)
        return false;
    char *p = out;
    for (DWORD i = 0; i < size; i++)
        p += snprintf(p, out + sizeof out - p, i ? ":%02X" : "%02X", hash[i]);
    return true;
}

} // namespace

TlsStream::~TlsStream()
{
    if (m_haveCtx)
        DeleteSecurityContext(&m_ctx);
    if (m_haveCred)
        FreeCredentialsHandle(&m_cred);
}

bool TlsStream::SendToken(SecBuffer &token)
{
    if (!token.pvBuffer)
        return true;
    const bool sent = SendRaw(m_socket, static_cast<const char *>(token.pvBuffer), token.cbBuffer);
    FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
    return sent;
}

bool TlsStream::ReadMore()
{
    char buffer[16384];
    const int n = m_in.size() < IN_MAX ? recv(m_socket, buffer, sizeof buffer, 0) : -1;
    if (n <= 0)
        return false;
    m_in.insert(m_in.end(), buffer, buffer + n);
    return true;
}

// Runs the handshake on to its end with what has arrived and what arrives;
// `waitFirst` when nothing that has arrived is for it yet.
bool TlsStream::Continue(bool waitFirst)
{
    SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
    while (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_INCOMPLETE_MESSAGE) {
        if ((status == SEC_E_INCOMPLETE_MESSAGE || (waitFirst && m_in.empty())) && !ReadMore())
            return false;
        waitFirst = true;
        // A server that answers in plain text (HTTP on a TLS port) would
        // otherwise keep the handshake waiting for the rest of a "record".
        if (!m_in.empty() && !IsRecordType(static_cast<unsigned char>(m_in[0])))
            return false;
        SecBuffer in[2] = {{static_cast<ULONG>(m_in.size()), SECBUFFER_TOKEN, m_in.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in};
        SecBuffer out = {0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &out};
        ULONG attributes = 0;
        status = InitializeSecurityContextA(&m_cred, &m_ctx, nullptr, REQUEST_FLAGS, 0, 0, &inDesc, 0,
                                            nullptr, &outDesc, &attributes, nullptr);
        if (!SendToken(out))
            return false;
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            continue;
        // What the server sent beyond this step stays for the next one.
        if (in[1].BufferType == SECBUFFER_EXTRA)
            m_in.erase(m_in.begin(), m_in.end() - in[1].cbBuffer);
        else
            m_in.clear();
    }
    return status == SEC_E_OK;
}

bool TlsStream::Handshake(const char *host)
{
    SCHANNEL_CRED cred = {};
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    // The certificate is judged once the handshake is done (Judge): a
    // self-signed one may be trusted by its fingerprint.
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    char package[] = UNISP_NAME_A;
    if (AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &cred, nullptr, nullptr,
                                  &m_cred, nullptr) != SEC_E_OK)
        return false;
    m_haveCred = true;
    SecBuffer out = {0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, &out};
    ULONG attributes = 0;
    const SECURITY_STATUS status =
        InitializeSecurityContextA(&m_cred, nullptr, const_cast<char *>(host), REQUEST_FLAGS, 0, 0, nullptr,
                                   0, &m_ctx, &outDesc, &attributes, nullptr);
    if (status != SEC_I_CONTINUE_NEEDED)
        return false;
    m_haveCtx = true;
    return SendToken(out) && Continue(true) &&
           QueryContextAttributesA(&m_ctx, SECPKG_ATTR_STREAM_SIZES, &m_sizes) == SEC_E_OK;
}

CertVerdict TlsStream::Judge(const char *host, const char *trusted, char (&fingerprint)[FINGERPRINT_SIZE])
{
    fingerprint[0] = '\0';
    PCCERT_CONTEXT cert = nullptr;
    if (QueryContextAttributesA(&m_ctx, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK || !cert)
        return *trusted ? CERT_CHANGED : CERT_UNKNOWN;
    const bool known = Fingerprint(cert, fingerprint) && *trusted && _stricmp(trusted, fingerprint) == 0;
    const bool system = SystemTrusts(cert, host);
    CertFreeCertificateContext(cert);
    if (known || system)
        return CERT_TRUSTED;
    return *trusted ? CERT_CHANGED : CERT_UNKNOWN;
}

bool TlsStream::Send(const char *data, size_t len)
{
    std::vector<char> record(m_sizes.cbHeader + m_sizes.cbMaximumMessage + m_sizes.cbTrailer);
    while (len > 0) {
        const ULONG part = static_cast<ULONG>(std::min<size_t>(len, m_sizes.cbMaximumMessage));
        char *body = record.data() + m_sizes.cbHeader;
        memcpy(body, data, part);
        SecBuffer buffers[4] = {{m_sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
                                {part, SECBUFFER_DATA, body},
                                {m_sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, body + part},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
        if (EncryptMessage(&m_ctx, 0, &desc, 0) != SEC_E_OK ||
            !SendRaw(m_socket, record.data(),
                     buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer))
            return false;
        data += part;
        len -= part;
    }
    return true;
}

TlsStream::Decrypted TlsStream::Decrypt()
{
    if (m_in.empty())
        return MORE_NEEDED;
    SecBuffer buffers[4] = {{static_cast<ULONG>(m_in.size()), SECBUFFER_DATA, m_in.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&m_ctx, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return MORE_NEEDED;
    if (status == SEC_I_CONTEXT_EXPIRED)
        return CLOSED;
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
        return FAILED;
    std::vector<char> extra;
    for (const SecBuffer &buffer : buffers) {
        const char *bytes = static_cast<const char *>(buffer.pvBuffer);
        if (buffer.BufferType == SECBUFFER_DATA)
            m_plain.insert(m_plain.end(), bytes, bytes + buffer.cbBuffer);
        else if (buffer.BufferType == SECBUFFER_EXTRA)
            extra.assign(bytes, bytes + buffer.cbBuffer);
    }
    m_in.swap(extra);
    // A message of the handshake after it (a TLS 1.3 session ticket) goes
    // back to the handshake.
    return status == SEC_I_RENEGOTIATE && !Continue(false) ? FAILED : DECRYPTED;
}

int TlsStream::Receive(char *dst, size_t room)
{
    while (m_plain.empty()) {
        const Decrypted result = Decrypt();
        if (result == CLOSED)
            return 0;
        if (result == FAILED)
            return -1;
        if (result == MORE_NEEDED && !ReadMore())
            return m_in.empty() ? 0 : -1;
    }
    const size_t n = std::min(room, m_plain.size());
    memcpy(dst, m_plain.data(), n);
    m_plain.erase(m_plain.begin(), m_plain.begin() + n);
    return static_cast<int>(n);
}
