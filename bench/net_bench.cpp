// Throughput of the protocol engine.
//
// Without arguments (or with Google Benchmark's): retrieval of messages of
// several sizes from an in-process POP3 server on loopback, RETR into files,
// as bytes and messages per second.
//
// Whole-process runs against real servers, used by bench/*.sh:
//   net_bench --pop3 HOST:PORT USER PASS   retrieve every message, then
//                                          delete them all; prints the count,
//                                          seconds, messages/s and peak RSS
//   net_bench --nntp HOST:PORT GROUP       HEAD and BODY of every article of
//                                          the group; prints articles/s
// OMAIL_BENCH_SECURITY=tls or starttls runs the POP3 retrieval over TLS,
// OMAIL_BENCH_CA naming a PEM file of an authority to trust for it;
// OMAIL_BENCH_PIPELINING=1 sends RETR and DELE ahead when the server allows
// it (otherwise one command at a time).
#include "net/netwire.h"
#include "platform/pollloop.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

namespace {

constexpr uint32_t kSocketMsg = 0x401;
constexpr uint32_t kStatusMsg = 0x402;
constexpr uint32_t kDoneMsg = 0x405;

// Runs one command after another, each started when the previous completed.
class Driver final : public platform::Window {
public:
    std::function<void(uintptr_t wParam, intptr_t lParam)> onDone;
    std::string error;
    bool ready = false;

    void handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        if (msg == kSocketMsg) {
            netwire::ProcessMsg(wParam, lParam);
        } else if (msg == kStatusMsg) {
            const char* text = reinterpret_cast<const char*>(lParam);
            if (wParam == 1 && error.empty()) error = text;
            if (wParam == 0 && std::strcmp(text, "ready") == 0) ready = true;
        } else if (onDone) {
            if (wParam == 1 && error.empty()) error = reinterpret_cast<const char*>(lParam);
            onDone(wParam, lParam);
        }
    }
};

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Logs on, retrieves every message into head.tmp/body.tmp, deletes them all
// and quits. Returns the number of messages, or -1 on an error.
// With `pipelined`, CAPA after the logon and, when the server announces
// PIPELINING, RETR and DELE sent ahead in the windows the program uses.
int retrieveAll(platform::PollLoop& loop, Driver& d, const std::string& host, const std::string& user,
                const std::string& pass, bool remove, bool pipelined = false) {
    int32_t count = 0;
    int32_t next = 0;
    int32_t ahead = 0;
    enum { Connecting, LoggingOn, Capabilities, Retrieving, Deleting, Done } stage = Connecting;
    d.ready = false;
    d.error.clear();
    d.onDone = [&](uintptr_t wParam, intptr_t) {
        if (wParam != 0) return;  // the engine has closed and reported it
        switch (stage) {
        case Connecting:
            stage = LoggingOn;
            netwire::OpenMailBox(kDoneMsg, user, pass, count);
            return;
        case LoggingOn:
            if (pipelined && count > 1) {
                stage = Capabilities;
                netwire::QueryPipelining(kDoneMsg, ahead);
                return;
            }
            [[fallthrough]];
        case Capabilities:
            stage = Retrieving;
            next = 0;
            [[fallthrough]];
        case Retrieving:
            if (next < count) {
                ++next;
                if (ahead == 1) netwire::GetMailItemAhead(kDoneMsg, "head.tmp", "body.tmp", next, count, 32);
                else netwire::GetMailItem(kDoneMsg, "head.tmp", "body.tmp", next);
                return;
            }
            stage = remove ? Deleting : Done;
            next = 0;
            [[fallthrough]];
        case Deleting:
            if (stage == Deleting && next < count) {
                ++next;
                if (ahead == 1) netwire::DeleteMailItemAhead(kDoneMsg, next, count, 128);
                else netwire::DeleteMailItem(kDoneMsg, next);
                return;
            }
            [[fallthrough]];
        case Done:
            stage = Done;
            netwire::AbortConnection();
            return;
        }
    };
    netwire::ServerOptions options;
    if (const char* security = std::getenv("OMAIL_BENCH_SECURITY")) {
        std::string mode(security);
        if (mode == "tls") options.security = netwire::kSecurityTls;
        if (mode == "starttls") options.security = netwire::kSecurityStartTls;
    }
    if (const char* ca = std::getenv("OMAIL_BENCH_CA")) netwire::SetCertificateAuthorities(ca);
    netwire::OpenServer(&d, kSocketMsg, kDoneMsg, kStatusMsg, host, netwire::kServerPop3, options);
    loop.runUntil([&] { return d.ready && netwire::ConnectionState() == netwire::kStateIdle; }, 3600 * 1000);
    return d.error.empty() ? count : -1;
}

int fetchArticles(platform::PollLoop& loop, Driver& d, const std::string& host, const std::string& group) {
    int32_t articles = 0, first = 0, last = 0, number = 0, fetched = 0;
    int32_t current = 0;
    enum { Connecting, Opening, Head, Body, Done } stage = Connecting;
    d.ready = false;
    d.error.clear();
    d.onDone = [&](uintptr_t wParam, intptr_t) {
        if (wParam != 0) stage = Done;
        switch (stage) {
        case Connecting:
            stage = Opening;
            netwire::OpenGroup(kDoneMsg, group, articles, first, last);
            return;
        case Opening:
            current = first;
            [[fallthrough]];
        case Body:
            if (stage == Body) ++fetched, ++current;
            if (current > last) break;
            stage = Head;
            netwire::GetHeader(kDoneMsg, "head.tmp", current, number);
            return;
        case Head:
            stage = Body;
            netwire::GetBody(kDoneMsg, "body.tmp", current, "");
            return;
        case Done: break;
        }
        stage = Done;
        netwire::AbortConnection();
    };
    netwire::OpenServer(&d, kSocketMsg, kDoneMsg, kStatusMsg, host, netwire::kServerNntp);
    loop.runUntil([&] { return d.ready && netwire::ConnectionState() == netwire::kStateIdle; }, 3600 * 1000);
    return d.error.empty() ? fetched : -1;
}

double seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int wholeProcess(int argc, char** argv) {
    platform::PollLoop loop;
    Driver d;
    std::string mode = argv[1];
    auto start = std::chrono::steady_clock::now();
    if (mode == "--pop3" && argc >= 5) {
        bool keep = argc >= 6 && std::string(argv[5]) == "--keep";
        const char* pipelining = std::getenv("OMAIL_BENCH_PIPELINING");
        int n = retrieveAll(loop, d, argv[2], argv[3], argv[4], !keep, pipelining && *pipelining == '1');
        double s = seconds(start);
        if (n < 0) return std::fprintf(stderr, "error: %s\n", d.error.c_str()), 1;
        std::printf("pop3 messages=%d seconds=%.3f messages_per_second=%.1f peak_rss_kb=%ld\n", n, s,
                    s > 0 ? n / s : 0.0, peakRssKb());
        return 0;
    }
    if (mode == "--nntp" && argc >= 4) {
        int n = fetchArticles(loop, d, argv[2], argv[3]);
        double s = seconds(start);
        if (n < 0) return std::fprintf(stderr, "error: %s\n", d.error.c_str()), 1;
        std::printf("nntp articles=%d seconds=%.3f articles_per_second=%.1f peak_rss_kb=%ld\n", n, s,
                    s > 0 ? n / s : 0.0, peakRssKb());
        return 0;
    }
    std::fprintf(stderr, "usage: net_bench --pop3 HOST:PORT USER PASS [--keep] | --nntp HOST:PORT GROUP\n");
    return 2;
}

// A POP3 server on its own thread that serves `count` copies of one message.
class FakePop3 {
public:
    FakePop3(size_t messageSize, int count) : m_count(count) {
        std::string line(76, 'm');
        m_message = "+OK\r\nSubject: bench\r\n\r\n";
        while (m_message.size() < messageSize) m_message += line + "\r\n";
        m_message += ".\r\n";
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 1);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~FakePop3() {
        m_thread.join();
        ::close(m_listen);
    }
    std::string host() const {
        std::string h = "127.0.0.1:";
        h += std::to_string(m_port);
        return h;
    }

private:
    void reply(int fd, const std::string& text) {
        size_t pos = 0;
        while (pos < text.size()) {
            ssize_t n = ::send(fd, text.data() + pos, text.size() - pos, MSG_NOSIGNAL);
            if (n <= 0) return;
            pos += static_cast<size_t>(n);
        }
    }
    void serve() {
        int fd = ::accept(m_listen, nullptr, nullptr);
        reply(fd, "+OK ready\r\n");
        std::string in;
        char buf[4096];
        for (;;) {
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            in.append(buf, static_cast<size_t>(n));
            size_t lf;
            while ((lf = in.find('\n')) != std::string::npos) {
                std::string cmd = in.substr(0, lf);
                in.erase(0, lf + 1);
                if (cmd.rfind("STAT", 0) == 0) {
                    std::string stat = "+OK ";
                    stat += std::to_string(m_count);
                    stat += " 0\r\n";
                    reply(fd, stat);
                }
                else if (cmd.rfind("RETR", 0) == 0) reply(fd, m_message);
                else if (cmd.rfind("QUIT", 0) == 0) break;
                else reply(fd, "+OK\r\n");
            }
        }
        ::close(fd);
    }
    std::string m_message;
    int m_count;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
};

void BM_Pop3RetrieveLoopback(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const int count = static_cast<int>(state.range(1));
    char dir[] = "/tmp/net_bench.XXXXXX";
    if (!::mkdtemp(dir) || ::chdir(dir) != 0) {
        state.SkipWithError("no temporary directory");
        return;
    }
    platform::PollLoop loop;
    Driver d;
    int64_t messages = 0;
    for (auto _ : state) {
        FakePop3 server(size, count);
        int n = retrieveAll(loop, d, server.host(), "u", "p", false);
        if (n != count) {
            std::string why = "retrieval failed: ";
            why += d.error;
            state.SkipWithError(why.c_str());
            break;
        }
        messages += n;
    }
    state.SetItemsProcessed(messages);
    state.SetBytesProcessed(messages * static_cast<int64_t>(size));
    state.counters["peak_rss_kb"] = static_cast<double>(peakRssKb());
    std::remove("head.tmp");
    std::remove("body.tmp");
    ::rmdir(dir);
}
BENCHMARK(BM_Pop3RetrieveLoopback)
    ->Args({20 * 1024, 200})
    ->Args({1024 * 1024, 20})
    ->Args({50 * 1024 * 1024, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--pop3") == 0 || std::strcmp(argv[1], "--nntp") == 0))
        return wholeProcess(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
