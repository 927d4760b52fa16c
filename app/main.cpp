// omail [DATA_DIR]: starts in the data directory (the current directory,
// or the one given), creates the windows and runs until the main window
// closes.
#include "settings/gen.h"
#include "main/mainform.h"
#include "platform/fsys.h"
#include "ui/qtloop.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

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

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(kAppCaption);
    QStringList args = QApplication::arguments();
    if (args.size() > 1 && !platform::changeDirectory(args[1].toLocal8Bit().toStdString())) {
        std::fprintf(stderr, "omail: cannot use %s as the data directory\n", argv[1]);
        return 2;
    }
    QtEventLoop loop;

    Tmainform mainWindow;
    if (mainWindow.lockFailed()) return 1;
    Tgen settings(mainWindow.ini(), &mainWindow);
    Tfoptsform folderOptions(mainWindow.ini(), &mainWindow);
    mainWindow.useSettings(&settings, &folderOptions);
    mainWindow.applySettings(settings);
    closeOnSignals(&mainWindow);
    mainWindow.show();
    return app.exec();
}
