// The main window as the window tests use it, and a way to answer the
// modal dialog a command opens.
#pragma once

#include "main/mainform.h"
#include "settings/gen.h"
#include "ui/qtloop.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace testsupport {

// A shown main window with its settings applied, over the current directory.
struct ShownMainform {
    QtEventLoop loop;
    Tmainform w;
    Tgen settings{w.ini(), &w};
    ShownMainform() {
        w.useSettings(&settings, nullptr);
        w.applySettings(settings);
        w.show();
    }
    ~ShownMainform() {
        w.close();
        w.useSettings(nullptr, nullptr);
    }
};

// Runs the action on the next modal dialog that opens.
inline void onNextModal(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        }
    });
    timer->start();
}

}  // namespace testsupport
