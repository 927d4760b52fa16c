// Harness for tests of the protocol engine: a window that hands socket
// notifications to the engine and records every report, on whichever event
// loop the test runs (the poll loop or the Qt backend). Header-only, because
// only the engine's tests link the engine.
#pragma once

#include "net/netwire.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

inline constexpr uint32_t kSocketMsg = 0x401;
inline constexpr uint32_t kStatusMsg = 0x402;
inline constexpr uint32_t kDoneMsg = 0x405;

struct Report {
    uint32_t msg = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    std::string text;  // the text lParam pointed to, copied on arrival
    bool isError() const { return msg == kStatusMsg && wParam == 1; }
    bool isDone() const { return msg != kStatusMsg; }
};

// Runs the test's event loop until done() or the time is up.
using LoopRunner = std::function<bool(const std::function<bool()>& done, int timeoutMs)>;

class EngineWindow final : public platform::Window {
public:
    std::vector<Report> reports;
    // Completions whose lParam is a number, not a text (the POP3 count).
    bool numericCompletion = false;

    void handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override {
        if (msg == kSocketMsg) {
            netwire::ProcessMsg(wParam, lParam);
            return;
        }
        Report r{msg, wParam, lParam, {}};
        bool numeric = false;
        if (msg != kStatusMsg) {
            numeric = numericCompletion;
            numericCompletion = false;
        }
        if (!numeric && lParam != 0) r.text = reinterpret_cast<const char*>(lParam);
        reports.push_back(std::move(r));
    }
};

// The engine keeps the window of its last connection and posts "ready" to it
// even from AbortConnection while idle, so one window serves every session
// of a test program and outlives them all.
inline EngineWindow& sharedEngineWindow() {
    static EngineWindow w;
    return w;
}

class EngineSession {
public:
    explicit EngineSession(LoopRunner runner) : m_run(std::move(runner)) {
        window.reports.clear();
        window.numericCompletion = false;
    }
    ~EngineSession() {
        if (netwire::ConnectionState() != netwire::kStateIdle) netwire::AbortConnection();
        settle();
    }

    EngineWindow& window = sharedEngineWindow();

    void open(const std::string& host, int type) {
        netwire::OpenServer(&window, kSocketMsg, kDoneMsg, kStatusMsg, host, type);
    }

    // Runs until a completion or an error arrives after the reports seen so
    // far; returns it (msg 0 when nothing came in time).
    Report next(int timeoutMs = 10000) {
        size_t from = m_seen;
        bool got = m_run([&] {
            for (size_t i = from; i < window.reports.size(); ++i)
                if (window.reports[i].isDone() || window.reports[i].isError()) return true;
            return false;
        }, timeoutMs);
        if (!got) return {};
        for (size_t i = from; i < window.reports.size(); ++i)
            if (window.reports[i].isDone() || window.reports[i].isError()) {
                m_seen = i + 1;
                return window.reports[i];
            }
        return {};
    }

    // Runs until the engine is idle and its "ready" was delivered.
    bool settle(int timeoutMs = 5000) {
        return m_run([&] {
            if (netwire::ConnectionState() != netwire::kStateIdle) return false;
            for (auto it = window.reports.rbegin(); it != window.reports.rend(); ++it)
                if (it->msg == kStatusMsg && it->wParam == 0 && it->text == "ready") return !platform::hasPostedMessages();
            return false;
        }, timeoutMs);
    }

    void run(int ms) {
        m_run([] { return false; }, ms);
    }

    // Status texts (wParam 0 and 1) in order of arrival.
    std::vector<std::string> statusTexts() const {
        std::vector<std::string> all;
        for (const Report& r : window.reports)
            if (r.msg == kStatusMsg) all.push_back((r.wParam ? "!" : "") + r.text);
        return all;
    }
    // The last error text, or "".
    std::string lastError() const {
        for (auto it = window.reports.rbegin(); it != window.reports.rend(); ++it)
            if (it->isError()) return it->text;
        return {};
    }
    void expectNumericCompletion() { window.numericCompletion = true; }

private:
    LoopRunner m_run;
    size_t m_seen = 0;
};

}  // namespace testsupport
