#include "settings/geometry.h"

#include "ui/dialogs.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace omail {

void restoreWindowPlace(QWidget* window, const IniFile& ini, char prefix, int defaultWidth,
                        int defaultHeight) {
    auto onError = [window](const std::string& text) {
        ui::informationBox(window, QString::fromStdString(text));
    };
    WindowGeometry g = WindowGeometry::read(ini, prefix, defaultWidth, defaultHeight, onError);
    if (g.stored) {
        window->move(g.left, g.top);
        window->resize(g.width, g.height);
        return;
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
    }
}

void saveWindowPlace(const QWidget* window, const IniFile& ini, char prefix) {
    WindowGeometry::write(ini, prefix, window->x(), window->y(), window->width(), window->height());
}

}  // namespace omail
