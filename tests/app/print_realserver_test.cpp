// Printing an item on a real print server: a private cupsd
// (scripts/cups-lab.sh) with a cups-pdf queue as the default printer. What
// the program sent stays in the server's spool as a PDF, read back with
// pdftotext: the short header, then the body, over as many pages as it
// needs. With the server stopped the user is told "cannot open printer".
#include "main/mainform.h"
#include "storefixture.h"
#include "support/tempdir.h"
#include "ui/dialogs.h"
#include "ui/qtloop.h"
#include "viewer/viewform.h"

#include <QApplication>
#include <QAction>
#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(30000);
    return p.readAllStandardOutput().toStdString();
}

// The first job file the server kept, waited for.
std::string spooledJob(const std::string& spool) {
    for (int i = 0; i < 200; ++i) {
        if (fs::exists(spool))
            for (const auto& e : fs::directory_iterator(spool))
                if (e.path().filename().string().starts_with("d") && fs::file_size(e.path()) > 0)
                    return e.path().string();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
}

}  // namespace

TEST(PrintRealServer, AnItemPrintsOnTheDefaultQueueAndNotWithoutIt) {
    if (::getuid() != 0) GTEST_SKIP() << "the print server lab needs root";
    if (!fs::exists("/usr/sbin/cupsd") || !fs::exists("/usr/bin/pdftotext")) GTEST_SKIP() << "cups is not installed";
    const std::string lab = "/tmp/omail-cupslab-" + std::to_string(::getpid());
    const std::string script = std::string(OMAIL_SOURCE_DIR) + "/scripts/cups-lab.sh";
    fs::remove_all(lab);
    ASSERT_EQ(std::system((script + " start " + lab + " >/dev/null").c_str()), 0);
    ::setenv("CUPS_SERVER", (lab + "/cups.sock").c_str(), 1);

    int argc = 1;
    char name[] = "print_realserver_test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    testsupport::TempDir dir(true);
    std::string body;
    for (int i = 1; i <= 400; ++i) body += "printed body line " + std::to_string(i) + "\r\n";
    testsupport::addItem("IN", 1, "Ann Author <ann@a.org>", "a printed subject", 'U');
    testsupport::writeFile("IN/N0000001.omb", body);
    QStringList boxes;
    ui::setInformationHook([&](const QString& text) { boxes << text; });
    ui::setQuestionHook([](const QString&) { return ui::kResultOk; });
    {
        QtEventLoop loop;
        Tmainform w;
        w.show();
        QApplication::processEvents();
        w.bodyPathOfRow(0);
        w.findChild<QAction*>("printselecteditem1")->trigger();
        EXPECT_TRUE(boxes.isEmpty()) << boxes.join(',').toStdString();

        const std::string job = spooledJob(lab + "/spool");
        ASSERT_FALSE(job.empty()) << "no job reached the spool";
        const std::string text = run("pdftotext", {QString::fromStdString(job), "-"});
        const size_t subject = text.find("a printed subject"), first = text.find("printed body line 1\n"),
                     last = text.find("printed body line 400");
        EXPECT_NE(subject, std::string::npos) << text.substr(0, 300);
        EXPECT_LT(subject, first);
        EXPECT_LT(first, last);
        EXPECT_NE(last, std::string::npos);
        const std::string info = run("pdfinfo", {QString::fromStdString(job)});
        const size_t pages = info.find("Pages:");
        ASSERT_NE(pages, std::string::npos);
        EXPECT_GE(std::stoi(info.substr(pages + 6)), 3) << "400 lines need more than two pages";

        std::system((script + " stop " + lab).c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        w.findChild<QAction*>("printselecteditem1")->trigger();
        EXPECT_EQ(boxes, QStringList{kCannotOpenPrinter});
        w.close();
    }
    ui::setInformationHook(nullptr);
    ui::setQuestionHook(nullptr);
    fs::remove_all(lab);
}
