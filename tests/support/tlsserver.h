// A scripted TLS server on 127.0.0.1, the TLS counterpart of ScriptServer:
// optional plain-text steps first (a greeting and a STARTTLS exchange), then
// the TLS handshake with the given certificate, then the steps of the
// script over TLS. It records what the client sent in plain text before TLS
// and decrypted after it (received()), and the raw bytes of the TLS part
// (rawReceived()). cutAt closes the connection once the server has sent that
// many bytes of TLS, so a test can cut the handshake at any byte.
#pragma once

#include "support/scriptserver.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class TlsScriptServer {
public:
    using Step = ScriptServer::Step;
    struct Options {
        std::string cert;
        std::string key;
        std::vector<Step> plain;  // before TLS; empty: TLS from the first byte
        long cutAt = -1;          // bytes of TLS the server sends before it closes (-1: no cut)
        // How S steps travel over TLS: each in records of at most this many
        // bytes (0: one record per step, as TLS cuts it), or consecutive S
        // steps joined into one write, so one record carries several replies.
        size_t recordSize = 0;
        bool joinReplies = false;
        int timeoutMs = 10000;
    };

    TlsScriptServer(std::vector<Step> script, Options options);
    ~TlsScriptServer();
    TlsScriptServer(const TlsScriptServer&) = delete;
    TlsScriptServer& operator=(const TlsScriptServer&) = delete;

    uint16_t port() const { return m_port; }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    bool finish();
    std::string received();
    std::string rawReceived();
    std::string expected() const;
    std::string error();
    bool handshakeDone() const { return m_handshakeDone; }
    // Bytes of TLS the server sent (the whole first flight when not cut).
    long tlsBytesSent() const { return m_tlsSent; }
    // Bytes of TLS the server had sent when its handshake completed. No
    // session tickets are sent, so this is the last byte the client needs.
    long handshakeBytes() const { return m_handshakeBytes; }

private:
    void run();
    bool runSteps(int fd, void* ssl, const std::vector<Step>& steps, bool tls);

    std::vector<Step> m_script;
    Options m_options;
    int m_listen = -1;
    uint16_t m_port = 0;
    bool m_completed = false;
    std::atomic<bool> m_handshakeDone{false};
    std::atomic<long> m_tlsSent{0};
    std::atomic<long> m_handshakeBytes{0};
    std::mutex m_mutex;
    std::string m_received;
    std::string m_raw;
    std::string m_error;
    size_t m_expectedSoFar = 0;
    std::thread m_thread;
};

}  // namespace testsupport
