// The "save as" file dialog; tests replace it with a hook that answers.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace ui {

// The chosen file, or empty on cancel.
QString saveFileName(QWidget* parent, const QString& title, const QString& directory, const QString& proposed,
                     const QString& filter);

using SaveFileHook = std::function<QString(const QString& title, const QString& directory, const QString& proposed)>;
void setSaveFileHook(SaveFileHook hook);

}  // namespace ui
