#include "ui/savedialog.h"

#include <QDir>
#include <QFileDialog>

namespace ui {

namespace {
SaveFileHook& hook() {
    static SaveFileHook h;
    return h;
}
}  // namespace

void setSaveFileHook(SaveFileHook h) { hook() = std::move(h); }

QString saveFileName(QWidget* parent, const QString& title, const QString& directory, const QString& proposed,
                     const QString& filter) {
    if (hook()) return hook()(title, directory, proposed);
    // Qt's own dialog: the same on every desktop and reachable by keys alone.
    return QFileDialog::getSaveFileName(parent, title, QDir(directory).filePath(proposed), filter, nullptr,
                                        QFileDialog::DontUseNativeDialog);
}

}  // namespace ui
