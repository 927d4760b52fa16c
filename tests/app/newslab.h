// The lab's INN for the news tests: started once per test program through
// scripts/lab on a free loopback port, with helpers to make groups, feed and
// cancel articles, and drop the readers' connections.
#pragma once

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace newslab {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

// Started once for the whole program. Each test makes groups of its own,
// so the tests do not see each other's articles.
class NntpLab {
public:
    static NntpLab& instance() {
        static NntpLab lab;
        return lab;
    }
    bool up() const { return m_up; }
    const std::string& why() const { return m_why; }
    std::string host() const { return "127.0.0.1:" + m_env.at("NNTP_PORT"); }

    // A new group holding articles first..last, one minute apart.
    std::string makeGroup(const std::string& name, int articles) {
        if (!ctlinnd("newgroup " + name + " y labadmin")) ADD_FAILURE() << "newgroup " << name;
        if (articles > 0) feed(name, 1, articles);
        return name;
    }
    void feed(const std::string& group, int from, int to) {
        std::string batch;
        for (int n = from; n <= to; ++n) batch += article(group, n);
        const std::string file = m_dir + ".batch";
        writeFile(file, batch);
        if (!run("rnews", " < '" + file + "'")) ADD_FAILURE() << "rnews into " << group;
    }
    void cancel(const std::string& id) {
        if (!ctlinnd("cancel '" + id + "'")) ADD_FAILURE() << "cancel " << id;
    }
    static std::string messageId(const std::string& group, int n) {
        return "<" + group + "." + std::to_string(n) + "@lab.test>";
    }
    static std::string bodyText(const std::string& group, int n) {
        return "Body of " + group + " " + std::to_string(n) + ".\r\n.dotted\r\n";
    }
    // Kills the reader processes serving this lab's clients.
    void dropConnections() {
        const std::string mine = "INNCONF=" + m_dir + "/nntp/etc/inn.conf";
        for (const auto& e : fs::directory_iterator("/proc")) {
            std::string name = e.path().filename();
            if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
            std::string command;
            std::getline(std::ifstream(e.path() / "comm"), command);
            if (command != "nnrpd") continue;
            std::ifstream envFile(e.path() / "environ", std::ios::binary);
            std::string env((std::istreambuf_iterator<char>(envFile)), std::istreambuf_iterator<char>());
            if (env.find(mine) != std::string::npos) ::kill(std::stoi(name), SIGKILL);
        }
    }

    ~NntpLab() {
        if (m_started) run("stop");
        std::error_code ignored;
        fs::remove_all(m_base, ignored);
    }

private:
    NntpLab() {
        if (::geteuid() != 0 || ::access("/usr/lib/news/bin/innd", X_OK) != 0) {
            m_why = "the NNTP lab needs root and inn2 (scripts/deps.sh servers)";
            return;
        }
        char pattern[] = "/tmp/omail-newslab.XXXXXX";
        if (!::mkdtemp(pattern)) return;
        m_base = pattern;
        ::chmod(m_base.c_str(), 0755);  // the news user must reach the lab
        m_dir = m_base + "/lab";
        m_started = true;
        if (!run("start", "", "LAB_WITHOUT='pop3 smtp' ")) {
            m_why = "the NNTP lab did not start: " + readFile(m_dir + ".log");
            return;
        }
        std::ifstream env(m_dir + "/lab.env");
        std::string line;
        while (std::getline(env, line)) {
            auto eq = line.find('=');
            if (eq != std::string::npos) m_env[line.substr(0, eq)] = line.substr(eq + 1);
        }
        m_up = m_env.count("NNTP_PORT") == 1;
    }
    static std::string article(const std::string& group, int n) {
        char date[64];
        std::snprintf(date, sizeof date, "Mon, %02d Jan 2024 %02d:%02d:00 +0000", 1 + n / 1440, n / 60 % 24, n % 60);
        std::string text = "Path: lab-injector!not-for-mail\nFrom: Poster " + std::to_string(n) +
                           " <p@lab.test>\nNewsgroups: " + group + "\nSubject: article " + std::to_string(n) +
                           "\nMessage-ID: " + messageId(group, n) + "\nDate: " + date + "\n\nBody of " + group +
                           " " + std::to_string(n) + ".\n.dotted\n";
        return "#! rnews " + std::to_string(text.size()) + "\n" + text;
    }
    bool ctlinnd(const std::string& args) const {
        std::string line = "INNCONF='" + m_dir +
                           "/nntp/etc/inn.conf' setpriv --reuid=news --regid=news --init-groups "
                           "/usr/lib/news/bin/ctlinnd -t 10 " + args + " >> '" + m_dir + ".log' 2>&1";
        return std::system(line.c_str()) == 0;
    }
    bool run(const char* command, const std::string& suffix = "", const std::string& prefix = "") const {
        std::string line = prefix + "bash '" + std::string(OMAIL_SOURCE_DIR) + "/scripts/lab/lab.sh' " + command +
                           " '" + m_dir + "'" + suffix + " >> '" + m_dir + ".log' 2>&1";
        return std::system(line.c_str()) == 0;
    }

    std::string m_base, m_dir, m_why;
    bool m_started = false;
    bool m_up = false;
    std::map<std::string, std::string> m_env;
};

}  // namespace newslab
