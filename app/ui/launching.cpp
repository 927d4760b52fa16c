#include "ui/launching.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QFile>
#include <QHash>
#include <QStandardPaths>

namespace ui {

namespace {

constexpr int kQueryTimeoutMs = 10000;

QString defaultDesktopId(const QString& mimeType) {
    const QString xdgMime = QStandardPaths::findExecutable("xdg-mime");
    if (xdgMime.isEmpty()) return {};
    QProcess query;
    query.start(xdgMime, {"query", "default", mimeType});
    if (!query.waitForFinished(kQueryTimeoutMs) || query.exitCode() != 0) return {};
    // Several ids may come back separated by ';': the first is the default.
    return QString::fromUtf8(query.readAllStandardOutput()).trimmed().section(';', 0, 0);
}

// Splits at unquoted blanks; inside double quotes a backslash escapes the
// next character.
QStringList splitExec(const QString& exec, bool& ok) {
    QStringList words;
    QString word;
    bool quoted = false, inWord = false;
    ok = true;
    for (int i = 0; i < exec.size(); ++i) {
        QChar c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size()) word += exec[++i];
            else if (c == '"') quoted = false;
            else word += c;
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord) words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) ok = false;
    if (inWord) words << word;
    return words;
}

// The keys of the [Desktop Entry] group (localised keys are skipped).
QHash<QString, QString> desktopEntry(const QString& path) {
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return keys;
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith('[')) {
            inGroup = line == "[Desktop Entry]";
        } else if (inGroup && !line.startsWith('#')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0 && !keys.contains(line.left(eq).trimmed()))
                keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
        }
    }
    return keys;
}

}  // namespace

QStringList expandExec(const QString& exec, const QString& file) {
    bool ok = false;
    const QStringList words = splitExec(exec, ok);
    if (!ok || words.isEmpty()) return {};
    QStringList out;
    bool placed = false;
    for (const QString& w : words) {
        if (w == "%f" || w == "%F" || w == "%u" || w == "%U") {
            if (!placed) out << file;
            placed = true;
            continue;
        }
        if (w == "%i" || w == "%c" || w == "%k") continue;  // icon, name, entry: not needed
        QString plain;
        for (int i = 0; i < w.size(); ++i) {
            if (w[i] == '%' && i + 1 < w.size()) {
                if (w[i + 1] == '%') plain += '%';
                ++i;  // other field codes inside a word are dropped
            } else {
                plain += w[i];
            }
        }
        out << plain;
    }
    if (!placed) out << file;
    return out;
}

bool associatedCommand(const QString& file, DesktopCommand& command) {
    const QString type = QMimeDatabase().mimeTypeForFile(file).name();
    const QString id = defaultDesktopId(type);
    if (id.isEmpty()) return false;
    const QString entry = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id);
    if (entry.isEmpty()) return false;
    const QHash<QString, QString> keys = desktopEntry(entry);
    const QString exec = keys.value("Exec");
    const bool terminal = keys.value("Terminal").compare("true", Qt::CaseInsensitive) == 0;
    command.workingDirectory = keys.value("Path");
    if (terminal && QStandardPaths::findExecutable("x-terminal-emulator").isEmpty()) return false;
    QStringList words = expandExec(exec, file);
    if (words.isEmpty()) return false;
    if (terminal) words = QStringList{"-e"} + words;
    command.program = terminal ? QStandardPaths::findExecutable("x-terminal-emulator") : words.takeFirst();
    command.arguments = words;
    return true;
}

LaunchResult launchFile(const QString& file) {
    DesktopCommand command;
    if (!associatedCommand(file, command)) return LaunchResult::NoApplication;
    QString program = command.program;
    if (!program.contains('/')) program = QStandardPaths::findExecutable(program);
    if (program.isEmpty()) return LaunchResult::Failed;
    const QString dir = command.workingDirectory.isEmpty() ? QFileInfo(file).absolutePath()
                                                           : command.workingDirectory;
    return QProcess::startDetached(program, command.arguments, dir) ? LaunchResult::Started
                                                                     : LaunchResult::Failed;
}

}  // namespace ui
