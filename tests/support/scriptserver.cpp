#include "support/scriptserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace testsupport {

ScriptServer::ScriptServer(std::vector<Step> script) : ScriptServer(std::move(script), Options{}) {}

ScriptServer::ScriptServer(std::vector<Step> script, Options options)
    : m_script(std::move(script)), m_options(std::move(options)) {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0) throw std::runtime_error("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_listen, 4) != 0)
        throw std::runtime_error("bind/listen");
    socklen_t len = sizeof addr;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] { run(); });
}

ScriptServer::~ScriptServer() {
    finish();
    if (m_listen >= 0) ::close(m_listen);
}

std::string ScriptServer::host() const { return "127.0.0.1:" + std::to_string(m_port); }

bool ScriptServer::finish() {
    if (m_thread.joinable()) m_thread.join();
    return m_completed;
}

std::string ScriptServer::received() {
    std::lock_guard lock(m_mutex);
    return m_received;
}

std::string ScriptServer::expected() const {
    std::string all;
    for (const Step& s : m_script)
        if (s.kind == Kind::Expect) all += s.data;
    return all;
}

std::string ScriptServer::error() {
    finish();
    return m_error;
}

static bool waitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    int n;
    do n = ::poll(&p, 1, timeoutMs);
    while (n < 0 && errno == EINTR);
    return n > 0;
}

bool ScriptServer::sendBytes(int fd, const std::string& data) {
    size_t pos = 0;
    while (pos < data.size()) {
        size_t piece = data.size() - pos;
        if (m_options.chunk > 0) piece = std::min(piece, m_options.chunk);
        for (size_t split : m_options.splitAt)
            if (split > m_sentOffset && split < m_sentOffset + piece) piece = split - m_sentOffset;
        ssize_t n = ::send(fd, data.data() + pos, piece, MSG_NOSIGNAL);
        if (n <= 0) {
            m_error = "send failed";
            return false;
        }
        pos += static_cast<size_t>(n);
        m_sentOffset += static_cast<size_t>(n);
        if (pos < data.size() && (m_options.chunk > 0 || !m_options.splitAt.empty()))
            ::usleep(static_cast<useconds_t>(m_options.pauseMicros));
    }
    return true;
}

bool ScriptServer::readUntil(int fd, size_t total) {
    char buf[65536];
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_received.size() >= total) return true;
        }
        if (!waitReadable(fd, m_options.timeoutMs)) {
            m_error = "timed out waiting for the client";
            return false;
        }
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            m_error = "client closed early";
            return false;
        }
        std::lock_guard lock(m_mutex);
        m_received.append(buf, static_cast<size_t>(n));
    }
}

void ScriptServer::drain(int fd) {
    char buf[65536];
    while (waitReadable(fd, m_options.timeoutMs)) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        std::lock_guard lock(m_mutex);
        m_received.append(buf, static_cast<size_t>(n));
    }
}

void ScriptServer::run() {
    if (!waitReadable(m_listen, m_options.timeoutMs)) {
        m_error = "no client connected";
        return;
    }
    int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        m_error = "accept failed";
        return;
    }
    m_accepted = true;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    size_t expectedTotal = 0;
    bool closed = false;
    bool ok = true;
    for (size_t i = 0; ok && i < m_script.size(); ++i) {
        const Step& step = m_script[i];
        switch (step.kind) {
        case Kind::Send: {
            std::string out = step.data;
            while (m_options.joinReplies && i + 1 < m_script.size() && m_script[i + 1].kind == Kind::Send)
                out += m_script[++i].data;
            ok = sendBytes(fd, out);
            break;
        }
        case Kind::Expect:
            expectedTotal += step.data.size();
            ok = readUntil(fd, expectedTotal);
            break;
        case Kind::Close:
            ::close(fd);
            fd = -1;
            closed = true;
            break;
        case Kind::Hold: break;
        }
        if (closed) break;
    }
    m_completed = ok;
    if (fd >= 0) {
        drain(fd);  // records what the client still sends (QUIT) until it closes
        ::close(fd);
    }
    m_done = true;
}

}  // namespace testsupport
