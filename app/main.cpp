// omail [DATA_DIR] [mailto:LINK]: starts in the data directory (see
// desktop/startup.h for which one), creates the windows and runs until the
// main window closes. With a link it opens the compose window filled in,
// or hands the link to the program already running on that directory.
#include "desktop/session.h"
#include "desktop/startup.h"
#include "settings/gen.h"
#include "main/mainform.h"
#include "platform/fsys.h"
#include "ui/qtloop.h"

#include <QApplication>
#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr const char* kDesktopFileName = "org.orrindel.mail";

// SIGTERM and SIGINT close the main window as the exit command does, so the
// window's closing steps run; the handler only writes to a pipe.
int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    char c = 1;
    ssize_t n = write(g_signalPipe[1], &c, 1);
    (void)n;
}

void closeOnSignals(QWidget* window) {
    if (pipe(g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char c;
        ssize_t n = read(g_signalPipe[0], &c, 1);
        (void)n;
        window->close();
    });
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
}

// Changes into the data directory; false after saying why it cannot be used.
bool enterDataDirectory(const desktop::StartArguments& start) {
    const QString chosen = desktop::chooseDataDirectory(start, QDir::currentPath(), qEnvironmentVariable("HOME"),
                                                        qEnvironmentVariable("XDG_DATA_HOME"));
    if (chosen.isEmpty()) return true;
    QString error;
    if (start.directory.isEmpty() && !desktop::ensurePrivateDirectory(chosen, error)) {
        std::fprintf(stderr, "omail: %s\n", error.toLocal8Bit().constData());
        return false;
    }
    if (platform::changeDirectory(chosen.toLocal8Bit().toStdString())) return true;
    std::fprintf(stderr, "omail: cannot use %s as the data directory\n", chosen.toLocal8Bit().constData());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(kAppCaption);
    QGuiApplication::setDesktopFileName(kDesktopFileName);
    const desktop::StartArguments start = desktop::parseArguments(QApplication::arguments().mid(1));
    if (!start.error.isEmpty()) {
        std::fprintf(stderr, "omail: %s\n", start.error.toLocal8Bit().constData());
        return 2;
    }
    if (!enterDataDirectory(start)) return 2;
    if (!start.link.isEmpty() && desktop::handOverLink(QDir::currentPath(), start.link)) return 0;
    QtEventLoop loop;

    Tmainform mainWindow;
    if (mainWindow.lockFailed()) return 1;
    Tgen settings(mainWindow.ini(), &mainWindow);
    Tfoptsform folderOptions(mainWindow.ini(), &mainWindow);
    mainWindow.useSettings(&settings, &folderOptions);
    mainWindow.applySettings(settings);
    auto* session = new desktop::DesktopSession(mainWindow);
    closeOnSignals(&mainWindow);
    mainWindow.show();
    if (!start.link.isEmpty()) session->openLink(start.link);
    return app.exec();
}
