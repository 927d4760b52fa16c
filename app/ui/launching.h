// Opening a file with the desktop's default application for its type: the
// file's MIME type, the XDG default handler of that type (xdg-mime), its
// .desktop entry and Exec line, started detached with the file as exactly
// one argument, whatever spaces or quotes its name holds.
#pragma once

#include <QString>
#include <QStringList>

namespace ui {

enum class LaunchResult { Started, NoApplication, Failed };

struct DesktopCommand {
    QString program;
    QStringList arguments;
    QString workingDirectory;  // the entry's Path=, may be empty
};

// The handler of the file's type, or false when there is none a user could
// see (no default, a missing entry, a terminal program without a terminal).
bool associatedCommand(const QString& file, DesktopCommand& command);
LaunchResult launchFile(const QString& file);

// Splits an Exec line (desktop entry quoting) and puts file in place of its
// field code; a line without one gets the file appended. Empty on a bad line.
QStringList expandExec(const QString& exec, const QString& file);

}  // namespace ui
