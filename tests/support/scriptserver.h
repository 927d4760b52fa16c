// A scripted TCP server on 127.0.0.1 for protocol tests.
//
// It binds port 0 (the kernel picks a free port), accepts one connection and
// plays a table of steps on its own thread: S steps are written to the
// client, C steps are awaited (the server reads until the client has sent as
// many bytes as all C steps so far), Close ends the connection at that
// point. Every byte the client sends is recorded, so a test compares
// received() with expected() (all C steps joined) byte for byte.
//
// Options shape how S bytes travel: split them at chosen offsets of the
// whole S stream, or into chunks of n bytes, each piece a write of its own
// with a short pause so that it arrives as a read of its own; or join the S
// steps that follow each other into one write.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class ScriptServer {
public:
    enum class Kind { Send, Expect, Close, Hold };
    struct Step {
        Kind kind;
        std::string data;
    };
    // The server writes text.
    static Step S(std::string text) { return {Kind::Send, std::move(text)}; }
    // The server waits for the client to send text (compared afterwards).
    static Step C(std::string text) { return {Kind::Expect, std::move(text)}; }
    // The server closes the connection here.
    static Step Close() { return {Kind::Close, {}}; }
    // The server stops answering: it keeps the connection open and reads
    // until the client closes.
    static Step Hold() { return {Kind::Hold, {}}; }

    struct Options {
        std::vector<size_t> splitAt;   // offsets in the whole S stream to split at
        size_t chunk = 0;              // write S bytes in pieces of this size (0: whole)
        bool joinReplies = false;      // consecutive S steps in one write
        int pauseMicros = 3000;        // between pieces
        int timeoutMs = 10000;         // waiting for the client
    };

    explicit ScriptServer(std::vector<Step> script);
    ScriptServer(std::vector<Step> script, Options options);
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    uint16_t port() const { return m_port; }
    // "127.0.0.1:PORT", the host form the engine takes.
    std::string host() const;
    // Waits for the script to end and the client to close (or the timeout);
    // true when every step was played.
    bool finish();
    // All bytes the client sent (finish() first for the complete record).
    std::string received();
    // The C steps joined: what the client should have sent.
    std::string expected() const;
    // Why the script stopped early, if it did.
    std::string error();
    // True once a client connected.
    bool accepted() const { return m_accepted; }

private:
    void run();
    bool sendBytes(int fd, const std::string& data);
    bool readUntil(int fd, size_t total);
    void drain(int fd);

    std::vector<Step> m_script;
    Options m_options;
    int m_listen = -1;
    uint16_t m_port = 0;
    size_t m_sentOffset = 0;
    std::atomic<bool> m_accepted{false};
    std::atomic<bool> m_done{false};
    bool m_completed = false;
    std::mutex m_mutex;
    std::string m_received;
    std::string m_error;
    std::thread m_thread;
};

}  // namespace testsupport
