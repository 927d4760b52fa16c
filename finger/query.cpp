// whoprobe-query: runs one Finger query and prints the reply or the error.
//
//   whoprobe-query [-v] [--raw] [--timeout SECONDS] user@host[:PORT]
//
// Exit status: 0 the reply was printed, 1 the query failed or timed out,
// 2 wrong usage.
#include "finger/whoprobe.h"
#include "platform/pollloop.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr uint32_t kSocketMsg = platform::WM_USER + 1;
constexpr uint32_t kResultMsg = platform::WM_USER + 2;
constexpr uint32_t kStatusMsg = platform::WM_USER + 3;
constexpr int kDefaultTimeoutSeconds = 30;
constexpr int kMaxTimeoutSeconds = 24 * 60 * 60;
// Texts the library posts on the result message that are not a reply.
constexpr std::string_view kSendError = "Send error";
constexpr std::string_view kNotInUse = "Not in use";

enum Exit { kExitReply = 0, kExitFailed = 1, kExitUsage = 2 };

struct Options {
    bool verbose = false;
    bool raw = false;
    int timeoutSeconds = kDefaultTimeoutSeconds;
    std::string query;
};

class QueryWindow final : public platform::Window {
public:
    explicit QueryWindow(bool verbose) : m_verbose(verbose) {}

    void handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        const char* text = reinterpret_cast<const char*>(lParam);
        if (msg == kSocketMsg) {
            whoprobe::ProcessDllMsg(wParam, lParam);
        } else if (msg == kResultMsg) {
            finish(text ? text : "", isFailureText(text));
        } else if (msg == kStatusMsg && wParam == 1) {
            finish(text ? text : "", true);
        } else if (msg == kStatusMsg && m_verbose && text) {
            std::fprintf(stderr, "%s\n", text);
        }
    }

    bool done() const { return m_done; }
    bool failed() const { return m_failed; }
    const std::string& text() const { return m_text; }

private:
    static bool isFailureText(const char* text) {
        return text && (text == kSendError || text == kNotInUse);
    }
    void finish(std::string text, bool failed) {
        if (m_done) return;
        m_done = true;
        m_failed = failed;
        m_text = std::move(text);
    }

    bool m_verbose;
    bool m_done = false;
    bool m_failed = false;
    std::string m_text;
};

void usage() {
    std::fprintf(stderr,
                 "usage: whoprobe-query [-v] [--raw] [--timeout SECONDS] user@host[:PORT]\n"
                 "  -v         show progress on standard error\n"
                 "  --raw      print the reply with its CR LF line ends\n"
                 "  --timeout  give up after SECONDS (default %d, 0 = wait for ever)\n",
                 kDefaultTimeoutSeconds);
}

bool parseSeconds(const char* text, int& seconds) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < 0 || value > kMaxTimeoutSeconds) return false;
    seconds = static_cast<int>(value);
    return true;
}

bool parseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--raw") {
            options.raw = true;
        } else if (arg == "--timeout") {
            if (++i == argc || !parseSeconds(argv[i], options.timeoutSeconds)) return false;
        } else if (arg.starts_with("-") || !options.query.empty()) {
            return false;
        } else {
            options.query = arg;
        }
    }
    return !options.query.empty();
}

// A terminal wants LF line ends; --raw keeps the reply as delivered.
std::string forOutput(const std::string& reply, bool raw) {
    if (raw) return reply;
    std::string out;
    out.reserve(reply.size());
    for (size_t i = 0; i < reply.size(); ++i) {
        if (reply[i] == '\r' && i + 1 < reply.size() && reply[i + 1] == '\n') continue;
        out += reply[i];
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseArguments(argc, argv, options)) {
        usage();
        return kExitUsage;
    }

    platform::PollLoop loop;
    QueryWindow window(options.verbose);
    if (whoprobe::OpenWinsock() != 0) {
        std::fprintf(stderr, "whoprobe-query: cannot start the socket layer\n");
        return kExitFailed;
    }
    whoprobe::Finger(&window, kSocketMsg, kResultMsg, kStatusMsg, options.query);

    auto finished = [&window] { return window.done(); };
    if (options.timeoutSeconds == 0) {
        while (!finished()) loop.runOnce(-1);
    } else if (!loop.runUntil(finished, options.timeoutSeconds * 1000)) {
        whoprobe::CloseWinsock();
        std::fprintf(stderr, "whoprobe-query: no reply within %d s\n", options.timeoutSeconds);
        return kExitFailed;
    }
    whoprobe::CloseWinsock();

    if (window.failed()) {
        std::fprintf(stderr, "whoprobe-query: %s\n", window.text().c_str());
        return kExitFailed;
    }
    std::string out = forOutput(window.text(), options.raw);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return kExitReply;
}
