// A scripted Finger server on 127.0.0.1 for the client tests: it listens on a
// port the kernel picks, takes one connection, records the query line the
// client sends, writes the reply in the given pieces and closes. With hold it
// waits for release() before replying, so a test can act while the client is
// connected.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace fingertest {

class ScriptedFingerServer {
public:
    struct Script {
        std::vector<std::string> reply;  // written one piece per send
        int pauseMs = 0;                 // between the pieces
        bool hold = false;               // wait for release() before replying
    };

    explicit ScriptedFingerServer(Script script) : m_script(std::move(script)) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_listen, 4) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("scripted finger server: cannot listen");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }

    ~ScriptedFingerServer() {
        release();
        // Wakes a server still waiting for a client that never came.
        ::shutdown(m_listen, SHUT_RDWR);
        if (m_thread.joinable()) m_thread.join();
        if (m_listen >= 0) ::close(m_listen);
    }

    ScriptedFingerServer(const ScriptedFingerServer&) = delete;
    ScriptedFingerServer& operator=(const ScriptedFingerServer&) = delete;

    uint16_t port() const { return m_port; }
    // "user@127.0.0.1:PORT"
    std::string target(const std::string& user) const { return user + "@127.0.0.1:" + std::to_string(m_port); }

    void release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

    // What the client sent, once the server has finished.
    std::string received() {
        if (m_thread.joinable()) m_thread.join();
        return m_received;
    }
    bool accepted() {
        std::lock_guard lock(m_mutex);
        return m_accepted;
    }
    // Whether the query line has arrived; the server is then holding or replying.
    bool queryArrived() {
        std::lock_guard lock(m_mutex);
        return m_queryArrived;
    }

private:
    static constexpr int kWaitMs = 5000;

    void serve() {
        pollfd listening{m_listen, POLLIN, 0};
        if (::poll(&listening, 1, kWaitMs) != 1) return;
        int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        {
            std::lock_guard lock(m_mutex);
            m_accepted = true;
        }
        readQuery(client);
        if (m_script.hold) {
            std::unique_lock lock(m_mutex);
            m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_released; });
        }
        for (size_t i = 0; i < m_script.reply.size(); ++i) {
            if (i > 0 && m_script.pauseMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(m_script.pauseMs));
            const std::string& piece = m_script.reply[i];
            if (::send(client, piece.data(), piece.size(), MSG_NOSIGNAL) < 0) break;
        }
        ::close(client);
    }

    // Reads up to the line feed that ends the query (or the client's close).
    void readQuery(int client) {
        char buffer[4096];
        while (m_received.find('\n') == std::string::npos) {
            pollfd readable{client, POLLIN, 0};
            if (::poll(&readable, 1, kWaitMs) != 1) break;
            ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            m_received.append(buffer, static_cast<size_t>(n));
        }
        std::lock_guard lock(m_mutex);
        m_queryArrived = true;
    }

    Script m_script;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_released = false;
    bool m_accepted = false;
    bool m_queryArrived = false;
    std::string m_received;
};

// A loopback port on which nothing listens (bound once, then closed).
inline uint16_t closedPort() {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(s, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
}

}  // namespace fingertest
