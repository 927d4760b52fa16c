// TLS over the asynchronous socket: OpenSSL works on two memory buffers
// (what came from the socket, what is to go to it), so it never touches the
// socket itself and never blocks; the socket keeps its notifications and
// either event loop drives it as before. Certificates are checked against
// the trusted authorities and the host name, and failing that against the
// certificates the user chose to trust.
#include "net/engine.h"

#include "store/torvakit.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <fstream>
#include <vector>

namespace netwire {

using namespace engine;

namespace {

constexpr const char* kStartingTls = "starting tls...";
constexpr const char* kTrustedByUser = "certificate trusted by the user";
constexpr size_t kFingerprintLength = 95;  // 32 hex pairs and 31 ':'

SSL_CTX* g_context = nullptr;
bool g_contextStale = true;
std::string g_authorities;
std::string g_trustFile;
std::vector<int> g_verifyErrors;

struct Problem {
    int reason = kCertificateOk;
    std::string host;
    std::string fingerprint;
};
Problem g_problem;

TextKind errorKindOf(Protocol p) {
    switch (p) {
    case Protocol::Pop3: return TextKind::Pop3Error;
    case Protocol::Smtp: return TextKind::SmtpError;
    default: return TextKind::NntpError;
    }
}

const char* nameOf(Protocol p) {
    switch (p) {
    case Protocol::Pop3: return "pop3";
    case Protocol::Smtp: return "smtp";
    default: return "nntp";
    }
}

// Every failed check is noted and the handshake goes on, so that the reason
// shown is the most telling one and a certificate the user trusted can
// still be accepted afterwards.
int verifyCallback(int ok, X509_STORE_CTX* store) {
    if (!ok) g_verifyErrors.push_back(X509_STORE_CTX_get_error(store));
    return 1;
}

SSL_CTX* context() {
    if (g_context && !g_contextStale) return g_context;
    if (g_context) SSL_CTX_free(g_context);
    g_context = SSL_CTX_new(TLS_client_method());
    g_contextStale = false;
    if (!g_context) return nullptr;
    SSL_CTX_set_min_proto_version(g_context, TLS1_2_VERSION);
    SSL_CTX_set_options(g_context, SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_default_verify_paths(g_context);
    if (!g_authorities.empty()) SSL_CTX_load_verify_locations(g_context, g_authorities.c_str(), nullptr);
    SSL_CTX_set_verify(g_context, SSL_VERIFY_PEER, verifyCallback);
    return g_context;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& ch : out) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return out;
}

std::string fingerprintOf(X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!X509_digest(cert, EVP_sha256(), digest, &length)) return {};
    std::string out;
    char pair[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", digest[i]);
        out += pair;
    }
    return out;
}

bool isFingerprint(std::string_view text) {
    if (text.size() != kFingerprintLength) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        bool separator = i % 3 == 2;
        if (separator ? text[i] != ':' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

std::vector<std::pair<std::string, std::string>> readTrust() {
    std::vector<std::pair<std::string, std::string>> entries;
    if (g_trustFile.empty()) return entries;
    std::ifstream in(g_trustFile);
    std::string line;
    while (std::getline(in, line)) {
        size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        std::string fingerprint = line.substr(space + 1);
        while (!fingerprint.empty() && (fingerprint.back() == '\r' || fingerprint.back() == ' ')) fingerprint.pop_back();
        if (!isFingerprint(fingerprint)) continue;
        for (char& ch : fingerprint) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        entries.emplace_back(lower(line.substr(0, space)), fingerprint);
    }
    return entries;
}

bool trusted(const std::string& host, const std::string& fingerprint) {
    std::string key = lower(host);
    for (const auto& [h, f] : readTrust())
        if (h == key && f == fingerprint) return true;
    return false;
}

// The most telling reason among the failed checks: an unknown issuer first
// (nothing else about such a certificate means anything), then its dates,
// then the name.
int classify(const std::vector<int>& errors) {
    bool expired = false, notYet = false, otherHost = false, untrusted = false;
    for (int e : errors) {
        switch (e) {
        case X509_V_ERR_CERT_HAS_EXPIRED: expired = true; break;
        case X509_V_ERR_CERT_NOT_YET_VALID: notYet = true; break;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
        case X509_V_ERR_EMAIL_MISMATCH: otherHost = true; break;
        default: untrusted = true; break;
        }
    }
    if (untrusted) return kCertificateNotTrusted;
    if (expired) return kCertificateExpired;
    if (notYet) return kCertificateNotYetValid;
    if (otherHost) return kCertificateOtherHost;
    return kCertificateOk;
}

const char* reasonText(int reason) {
    switch (reason) {
    case kCertificateExpired: return "certificate expired";
    case kCertificateNotYetValid: return "certificate not yet valid";
    case kCertificateOtherHost: return "certificate is for another host";
    default: return "certificate not trusted";
    }
}

const char* openSslReason() {
    unsigned long e = ERR_get_error();
    ERR_clear_error();
    const char* text = e ? ERR_reason_error_string(e) : nullptr;
    return text ? text : "protocol error";
}

// Moves what OpenSSL produced into the outgoing bytes.
void collectOutput() {
    Connection& c = conn();
    BIO* out = SSL_get_wbio(c.ssl);
    char buffer[16384];
    int n;
    while ((n = BIO_read(out, buffer, sizeof buffer)) > 0) c.tlsOut.append(buffer, static_cast<size_t>(n));
}

// 1 everything sent, 0 the socket is full (FD_WRITE follows), -1 failed
// (WSAGetLastError tells why).
int drain() {
    Connection& c = conn();
    size_t sent = 0;
    int result = 1;
    while (sent < c.tlsOut.size()) {
        int chunk = static_cast<int>(std::min<size_t>(c.tlsOut.size() - sent, INT_MAX));
        int n = platform::wsSend(c.socket, c.tlsOut.data() + sent, chunk);
        if (n == platform::SOCKET_ERROR) {
            if (platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) {
                c.writeReady = false;
                result = 0;
            } else {
                result = -1;
            }
            break;
        }
        sent += static_cast<size_t>(n);
    }
    if (sent > 0) {
        c.tlsOut.erase(0, sent);
        touch();
    }
    return result;
}

bool sendOutput() {
    collectOutput();
    if (drain() >= 0) return true;
    closeWithError(torvakit::GetWSAError(platform::WSAGetLastError()));
    return false;
}

bool acceptCertificate() {
    Connection& c = conn();
    X509* cert = SSL_get0_peer_certificate(c.ssl);
    if (!cert) {
        closeWithError(formatText(errorKindOf(c.protocol), "tls handshake failed (no server certificate)"));
        return false;
    }
    std::string fingerprint = fingerprintOf(cert);
    std::vector<int> errors = g_verifyErrors;
    if (errors.empty() && SSL_get_verify_result(c.ssl) != X509_V_OK)
        errors.push_back(static_cast<int>(SSL_get_verify_result(c.ssl)));
    int reason = classify(errors);
    if (reason == kCertificateOk) return true;
    if (trusted(c.hostName, fingerprint)) {
        postStatus(0, kTrustedByUser);
        return true;
    }
    g_problem = {reason, c.hostName, fingerprint};
    closeWithError(formatText(errorKindOf(c.protocol), "%s (SHA-256 %s)", reasonText(reason), fingerprint.c_str()));
    return false;
}

void pumpReceived();

void handshake() {
    Connection& c = conn();
    ERR_clear_error();
    int r = SSL_do_handshake(c.ssl);
    if (!sendOutput()) return;
    if (r == 1) {
        c.handshaking = false;
        if (!acceptCertificate()) return;
        c.tlsDone = true;
        touch();
        tlsEstablished();
        // The server may have sent its first reply with its last handshake
        // bytes; it is waiting in TLS already.
        pumpReceived();
        if (c.state == State::Connected) flushQueue();
        return;
    }
    int e = SSL_get_error(c.ssl, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return;
    closeWithError(formatText(errorKindOf(c.protocol), "tls handshake failed (%s)", openSslReason()));
}

// Decrypts into the receive buffer and hands the lines on, until TLS holds
// no more complete records.
void pumpReceived() {
    Connection& c = conn();
    while (c.state == State::Connected && c.ssl && !c.handshaking && !c.held) {
        int room = kReceiveSize - c.receiveCount;
        if (room <= 0) return;  // processReceived always leaves room or closes
        ERR_clear_error();
        int n = SSL_read(c.ssl, c.receive.data() + c.receiveCount, room);
        if (n > 0) {
            c.receiveCount += n;
            processReceived();
            continue;
        }
        int e = SSL_get_error(c.ssl, n);
        if (!sendOutput()) return;
        // A closing alert is followed by the close of the connection,
        // which reports itself.
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_ZERO_RETURN) return;
        closeWithError(formatText(errorKindOf(c.protocol), "tls error in %s connexion (%s)", nameOf(c.protocol),
                                  openSslReason()));
        return;
    }
}

}  // namespace

namespace engine {

void resetCertificateProblem() { g_problem = {}; }

void tlsStart() {
    Connection& c = conn();
    SSL_CTX* ctx = context();
    SSL* ssl = ctx ? SSL_new(ctx) : nullptr;
    if (!ssl) return closeWithError(formatText(errorKindOf(c.protocol), "cannot start tls"));
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    BIO_set_mem_eof_return(in, -1);  // an empty buffer means "more to come"
    SSL_set_bio(ssl, in, out);
    SSL_set_connect_state(ssl);
    unsigned char probe[16];
    bool literal = inet_pton(AF_INET, c.hostName.c_str(), probe) == 1 || inet_pton(AF_INET6, c.hostName.c_str(), probe) == 1;
    if (literal) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), c.hostName.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, c.hostName.c_str());
        SSL_set1_host(ssl, c.hostName.c_str());
    }
    c.ssl = ssl;
    c.handshaking = true;
    c.step = kStepTlsHandshake;
    c.tlsOut.clear();
    g_verifyErrors.clear();
    touch();
    postStatus(0, kStartingTls);
    handshake();
}

void tlsReadable() {
    Connection& c = conn();
    char raw[kReceiveSize];
    int n = platform::wsRecv(c.socket, raw, sizeof raw);
    if (n == platform::SOCKET_ERROR) {
        if (platform::WSAGetLastError() == platform::WSAEWOULDBLOCK) return;
        return closeWithError(formatText(errorKindOf(c.protocol), "recv error in %s readsock", nameOf(c.protocol)));
    }
    if (n == 0) return;  // the close is reported by FD_CLOSE
    BIO_write(SSL_get_rbio(c.ssl), raw, n);
    touch();
    if (c.handshaking) return handshake();
    pumpReceived();
}

void tlsResume() {
    pumpReceived();
    Connection& c = conn();
    if (c.state == State::Connected && c.ssl && !c.held) tlsReadable();
}

void tlsWritable() {
    Connection& c = conn();
    int r = drain();
    if (r < 0) return closeWithError(torvakit::GetWSAError(platform::WSAGetLastError()));
    if (r > 0 && c.handshaking) handshake();
}

bool tlsDrain() {
    Connection& c = conn();
    if (c.tlsOut.empty()) return true;
    return drain() > 0;
}

int tlsWrite(const char* data, int length) {
    Connection& c = conn();
    ERR_clear_error();
    int n = SSL_write(c.ssl, data, length);
    if (n <= 0) {
        platform::WSASetLastError(platform::WSAECONNABORTED);
        return platform::SOCKET_ERROR;
    }
    collectOutput();
    if (drain() < 0) return platform::SOCKET_ERROR;
    return n;
}

void tlsClose(std::string_view lastCommand) {
    Connection& c = conn();
    if (!c.ssl) return;
    ERR_clear_error();
    if (!lastCommand.empty()) SSL_write(c.ssl, lastCommand.data(), static_cast<int>(lastCommand.size()));
    if (c.tlsDone) SSL_shutdown(c.ssl);
    collectOutput();
    if (c.writeReady || c.tlsDone) drain();
    SSL_free(c.ssl);
    c.ssl = nullptr;
    c.handshaking = false;
    c.tlsDone = false;
    c.tlsOut.clear();
    ERR_clear_error();
}

void beginStartTls() {
    Connection& c = conn();
    c.startTlsPending = true;
    c.step = kStepTlsHandshake;
}

void tlsEstablished() {
    Connection& c = conn();
    if (c.security == kSecurityTls) {
        c.step = kStepGreeting;
        c.replyLines = 0;
        return;
    }
    switch (c.protocol) {
    case Protocol::Pop3: return pop3TlsEstablished();
    case Protocol::Smtp: return smtpTlsEstablished();
    default: return nntpTlsEstablished();
    }
}

}  // namespace engine

int SetTrustFile(std::string_view path) {
    g_trustFile = std::string(path);
    return 0;
}

int SetCertificateAuthorities(std::string_view pemFile) {
    g_authorities = std::string(pemFile);
    g_contextStale = true;
    return 0;
}

int LastCertificateProblem(std::string& host, std::string& fingerprint) {
    host = g_problem.host;
    fingerprint = g_problem.fingerprint;
    return g_problem.reason;
}

int TrustCertificate(std::string_view host, std::string_view fingerprint) {
    if (g_trustFile.empty()) return 1;
    if (!isFingerprint(fingerprint) || host.empty() || host.find_first_of(" \t\r\n") != std::string_view::npos)
        return 3;
    std::string key = lower(host);
    std::string print(fingerprint);
    for (char& ch : print) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    std::string text;
    for (const auto& [h, f] : readTrust())
        if (!(h == key && f == print)) text += h + " " + f + "\n";
    text += key + " " + print + "\n";
    // Written beside and put in place in one step, readable by its owner
    // only whatever mode an earlier file had.
    std::string temporary = g_trustFile + ".tmp";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return 2;
    bool ok = ::fchmod(fd, 0600) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) ok = false; else done += static_cast<size_t>(n);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), g_trustFile.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return 2;
    }
    return 0;
}

}  // namespace netwire
