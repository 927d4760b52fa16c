#include "desktop/startup.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace desktop {

namespace {
constexpr const char* kSettingsFile = "omail.ini";
}

bool isMailtoLink(const QString& arg) { return arg.startsWith("mailto:", Qt::CaseInsensitive); }

StartArguments parseArguments(const QStringList& args) {
    StartArguments result;
    for (const QString& arg : args) {
        QString& slot = isMailtoLink(arg) ? result.link : result.directory;
        if (!slot.isEmpty()) {
            result.error = "too many arguments: " + arg;
            return result;
        }
        slot = arg;
    }
    return result;
}

QString userDataDirectory(const QString& xdgDataHome, const QString& home) {
    // A relative XDG_DATA_HOME is invalid and must be ignored.
    if (!xdgDataHome.isEmpty() && QDir::isAbsolutePath(xdgDataHome))
        return QDir::cleanPath(xdgDataHome + "/" + kDataFolderName);
    if (home.isEmpty()) return {};
    return QDir::cleanPath(home + "/.local/share/" + kDataFolderName);
}

QString chooseDataDirectory(const StartArguments& args, const QString& currentDir, const QString& home,
                            const QString& xdgDataHome) {
    if (!args.directory.isEmpty()) return args.directory;
    if (home.isEmpty() || currentDir.isEmpty()) return {};
    const QString here = QFileInfo(currentDir).canonicalFilePath();
    if (here.isEmpty() || here != QFileInfo(home).canonicalFilePath()) return {};
    // Someone who has kept the data in the home directory until now goes on
    // finding it there.
    if (QFileInfo::exists(here + "/" + kSettingsFile)) return {};
    return userDataDirectory(xdgDataHome, home);
}

bool ensurePrivateDirectory(const QString& path, QString& error) {
    QFileInfo info(path);
    if (info.isDir()) return true;
    if (info.exists()) {
        error = path + " is not a directory";
        return false;
    }
    const QString parent = info.absolutePath();
    if (!QDir().mkpath(parent)) {
        error = "cannot create " + parent;
        return false;
    }
    const QByteArray local = QFile::encodeName(path);
    // mkdir's mode is cut by the umask, which may only take bits away: the
    // chmod makes it exactly 0700.
    if (mkdir(local.constData(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + path + ": " + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (chmod(local.constData(), 0700) != 0) {
        error = "cannot protect " + path + ": " + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace desktop
