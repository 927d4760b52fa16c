// Where the program keeps its data: the arguments it was started with and
// the rule that picks the data directory from them.
//
// A directory argument wins. Without one, a program started in the home
// directory (as the desktop menu starts it) uses the user's data directory,
// $XDG_DATA_HOME/orrindel-mail; started anywhere else it uses the directory
// it was started in, so a data directory can still be used by starting the
// program inside it. A home directory that already holds the settings of a data
// directory stays the data directory.
#pragma once

#include <QString>
#include <QStringList>

namespace desktop {

inline constexpr const char* kDataFolderName = "orrindel-mail";

struct StartArguments {
    QString directory;  // empty: none given
    QString link;       // a mailto: link, or empty
    QString error;      // set when the arguments cannot be used
};

// The arguments after the program's name: at most one directory and at
// most one mailto: link, in either order.
StartArguments parseArguments(const QStringList& args);

bool isMailtoLink(const QString& arg);

// $XDG_DATA_HOME/orrindel-mail, or HOME/.local/share/orrindel-mail when
// XDG_DATA_HOME is unset or not absolute; empty without a home.
QString userDataDirectory(const QString& xdgDataHome, const QString& home);

// The data directory for these arguments; empty means the current one.
QString chooseDataDirectory(const StartArguments& args, const QString& currentDir, const QString& home,
                            const QString& xdgDataHome);

// Creates the directory (and missing parents) when it does not exist, the
// directory itself mode 0700 since it will hold passwords and mail. An
// existing directory is left as it is. False with a reason on failure.
bool ensurePrivateDirectory(const QString& path, QString& error);

}  // namespace desktop
