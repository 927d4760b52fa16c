// Handing a mailto: link to the program already running on a data
// directory. The running one listens on a local socket named after its
// data directory; a second process started with a link connects, sends the
// link as one line and ends once it is acknowledged. The data directory's
// lock stays the only thing that decides which process runs.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;
class QLocalSocket;

namespace desktop {

// The socket's path for a data directory: in $XDG_RUNTIME_DIR when there is
// one (private to the user), else in the temporary directory, named by the
// user and a hash of the directory's canonical path.
QString handOverSocketPath(const QString& dataDirectory);

// Sends the link to the program running on the data directory. True when it
// took the link; false when none listens (or it did not answer in time).
// While the directory's lock is held by a program that does not listen yet
// (it is still starting), it tries again for a few seconds.
bool handOverLink(const QString& dataDirectory, const QString& link);

class LinkReceiver : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const QString& link)>;
    LinkReceiver(const QString& dataDirectory, Handler handler, QObject* parent = nullptr);
    ~LinkReceiver() override;

    // Starts listening. Call only while holding the data directory's lock:
    // a socket left by a process that died is then stale and replaced.
    bool listen();

private:
    void accept();
    void readFrom(QLocalSocket* socket);

    QString m_path;
    Handler m_handler;
    QLocalServer* m_server = nullptr;
};

}  // namespace desktop
