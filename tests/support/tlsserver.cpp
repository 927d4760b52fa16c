#include "support/tlsserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace testsupport {
namespace {

struct Channel {
    int fd;
    long budget;  // -1: unlimited
    int timeoutMs;
    std::atomic<long>* sent;
    std::mutex* mutex;
    std::string* raw;
};

bool waitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    int n;
    do n = ::poll(&p, 1, timeoutMs);
    while (n < 0 && errno == EINTR);
    return n > 0;
}

int channelWrite(BIO* bio, const char* data, int length) {
    auto* ch = static_cast<Channel*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (ch->budget == 0) return -1;
    int piece = length;
    if (ch->budget > 0 && piece > ch->budget) piece = static_cast<int>(ch->budget);
    int done = 0;
    while (done < piece) {
        ssize_t n = ::send(ch->fd, data + done, static_cast<size_t>(piece - done), MSG_NOSIGNAL);
        if (n <= 0) return done > 0 ? done : -1;
        done += static_cast<int>(n);
    }
    *ch->sent += done;
    if (ch->budget > 0) {
        ch->budget -= done;
        if (ch->budget == 0) {
            ::shutdown(ch->fd, SHUT_RDWR);
            return -1;
        }
    }
    return done;
}

int channelRead(BIO* bio, char* data, int length) {
    auto* ch = static_cast<Channel*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    if (!waitReadable(ch->fd, ch->timeoutMs)) return -1;
    ssize_t n = ::recv(ch->fd, data, static_cast<size_t>(length), 0);
    if (n <= 0) return static_cast<int>(n);
    std::lock_guard lock(*ch->mutex);
    ch->raw->append(data, static_cast<size_t>(n));
    return static_cast<int>(n);
}

long channelCtrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

BIO_METHOD* channelMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "test channel");
        BIO_meth_set_write(m, channelWrite);
        BIO_meth_set_read(m, channelRead);
        BIO_meth_set_ctrl(m, channelCtrl);
        BIO_meth_set_create(m, [](BIO* b) { BIO_set_init(b, 1); return 1; });
        return m;
    }();
    return method;
}

}  // namespace

TlsScriptServer::TlsScriptServer(std::vector<Step> script, Options options)
    : m_script(std::move(script)), m_options(std::move(options)) {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0) throw std::runtime_error("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_listen, 4) != 0)
        throw std::runtime_error("bind/listen");
    socklen_t len = sizeof addr;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { run(); });
}

TlsScriptServer::~TlsScriptServer() {
    finish();
    if (m_listen >= 0) ::close(m_listen);
}

bool TlsScriptServer::finish() {
    if (m_thread.joinable()) m_thread.join();
    return m_completed;
}

std::string TlsScriptServer::received() {
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::string TlsScriptServer::rawReceived() {
    std::lock_guard lock(m_mutex);
    return m_raw;
}

std::string TlsScriptServer::expected() const {
    std::string all;
    for (const auto* steps : {&m_options.plain, &m_script})
        for (const Step& s : *steps)
            if (s.kind == ScriptServer::Kind::Expect) all += s.data;
    return all;
}

std::string TlsScriptServer::error() {
    finish();
    return m_error;
}

// Plays steps in plain text (ssl null) or over TLS.
bool TlsScriptServer::runSteps(int fd, void* sslPtr, const std::vector<Step>& steps, bool tls) {
    SSL* ssl = static_cast<SSL*>(sslPtr);
    char buf[65536];
    auto tlsSend = [&](const std::string& data) {
        const size_t piece = m_options.recordSize ? m_options.recordSize : data.size();
        for (size_t at = 0; at < data.size(); at += piece) {
            const int n = static_cast<int>(std::min(piece, data.size() - at));
            if (SSL_write(ssl, data.data() + at, n) != n) return false;
        }
        return true;
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        switch (step.kind) {
        case ScriptServer::Kind::Send: {
            std::string data = step.data;
            while (tls && m_options.joinReplies && i + 1 < steps.size() &&
                   steps[i + 1].kind == ScriptServer::Kind::Send)
                data += steps[++i].data;
            bool ok = tls ? tlsSend(data)
                          : ::send(fd, data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
            if (!ok) {
                m_error = "send failed";
                return false;
            }
            break;
        }
        case ScriptServer::Kind::Expect:
            m_expectedSoFar += step.data.size();
            for (;;) {
                {
                    std::lock_guard lock(m_mutex);
                    if (m_received.size() >= m_expectedSoFar) break;
                }
                int n;
                if (tls) {
                    n = SSL_read(ssl, buf, sizeof buf);
                } else {
                    n = waitReadable(fd, m_options.timeoutMs) ? static_cast<int>(::recv(fd, buf, sizeof buf, 0)) : -1;
                }
                if (n <= 0) {
                    m_error = "client closed early or timed out";
                    return false;
                }
                std::lock_guard lock(m_mutex);
                m_received.append(buf, static_cast<size_t>(n));
            }
            break;
        case ScriptServer::Kind::Close: return false;
        case ScriptServer::Kind::Hold: break;
        }
    }
    return true;
}

void TlsScriptServer::run() {
    if (!waitReadable(m_listen, m_options.timeoutMs)) {
        m_error = "no client";
        return;
    }
    int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(ctx, m_options.cert.c_str());
    SSL_CTX_use_PrivateKey_file(ctx, m_options.key.c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_set_num_tickets(ctx, 0);
    SSL* ssl = nullptr;
    Channel channel{fd, m_options.cutAt, m_options.timeoutMs, &m_tlsSent, &m_mutex, &m_raw};
    bool ok = runSteps(fd, nullptr, m_options.plain, false);
    if (ok) {
        ssl = SSL_new(ctx);
        BIO* bio = BIO_new(channelMethod());
        BIO_set_data(bio, &channel);
        SSL_set_bio(ssl, bio, bio);
        ok = SSL_accept(ssl) == 1;
        if (!ok) m_error = "handshake failed";
    }
    if (ok) {
        m_handshakeDone = true;
        m_handshakeBytes = m_tlsSent.load();
        ok = runSteps(fd, ssl, m_script, true);
        if (ok) {
            m_completed = true;
            // What the client says after the script (QUIT) is recorded too.
            char buf[4096];
            int n;
            while ((n = SSL_read(ssl, buf, sizeof buf)) > 0) {
                std::lock_guard lock(m_mutex);
                m_received.append(buf, static_cast<size_t>(n));
            }
        }
    }
    if (ssl) SSL_free(ssl);
    SSL_CTX_free(ctx);
    ERR_clear_error();
    ::close(fd);
}

}  // namespace testsupport
