#include "desktop/handover.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include "platform/fsys.h"

#include <chrono>

#include <unistd.h>

namespace desktop {

namespace {

constexpr int kConnectMs = 1000;
constexpr int kAnswerMs = 5000;
// A link longer than this is not a link a person clicked: it is dropped
// instead of growing the buffer without end.
constexpr qint64 kMaxLinkBytes = 256 * 1024;
constexpr const char* kAcknowledgement = "ok\n";
// A program that holds the lock may still be starting and listen a moment
// later: this long the link waits for it.
constexpr std::chrono::milliseconds kStartingWait{5000};
constexpr int kStartingRetryMs = 100;
constexpr const char* kLockFile = "FILE.LOK";

bool dataDirectoryInUse(const QString& dataDirectory) {
    const std::string lock = (dataDirectory + "/" + kLockFile).toStdString();
    if (!platform::fileExists(lock)) return false;
    const int fd = platform::lockExclusive(lock);
    if (fd < 0) return true;
    platform::unlockExclusive(fd);
    return false;
}

bool tryHandOver(const QString& dataDirectory, const QString& link) {
    QLocalSocket socket;
    socket.connectToServer(handOverSocketPath(dataDirectory));
    if (!socket.waitForConnected(kConnectMs)) return false;
    QByteArray line = link.toUtf8();
    line.replace('\n', ' ');
    socket.write(line + '\n');
    if (!socket.waitForBytesWritten(kAnswerMs)) return false;
    QByteArray answer;
    while (!answer.endsWith('\n')) {
        if (!socket.waitForReadyRead(kAnswerMs)) return false;
        answer += socket.readAll();
    }
    return answer == kAcknowledgement;
}

QString runtimeDirectory() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return runtime;
    return QDir::tempPath();
}

}  // namespace

QString handOverSocketPath(const QString& dataDirectory) {
    QString canonical = QFileInfo(dataDirectory).canonicalFilePath();
    if (canonical.isEmpty()) canonical = QFileInfo(dataDirectory).absoluteFilePath();
    const QByteArray hash = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return runtimeDirectory() + QString("/omail-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash));
}

bool handOverLink(const QString& dataDirectory, const QString& link) {
    const auto deadline = std::chrono::steady_clock::now() + kStartingWait;
    while (!tryHandOver(dataDirectory, link)) {
        if (!dataDirectoryInUse(dataDirectory) || std::chrono::steady_clock::now() > deadline) return false;
        QThread::msleep(kStartingRetryMs);
    }
    return true;
}

LinkReceiver::LinkReceiver(const QString& dataDirectory, Handler handler, QObject* parent)
    : QObject(parent), m_path(handOverSocketPath(dataDirectory)), m_handler(std::move(handler)) {}

LinkReceiver::~LinkReceiver() {
    if (m_server) m_server->close();
}

bool LinkReceiver::listen() {
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(m_path);
    if (!m_server->listen(m_path)) return false;
    connect(m_server, &QLocalServer::newConnection, this, &LinkReceiver::accept);
    return true;
}

void LinkReceiver::accept() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        if (socket->bytesAvailable() > 0) readFrom(socket);
    }
}

void LinkReceiver::readFrom(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxLinkBytes) socket->abort();
        return;
    }
    const QString link = QString::fromUtf8(socket->readLine()).trimmed();
    socket->write(kAcknowledgement);
    socket->flush();
    socket->disconnectFromServer();
    if (m_handler) m_handler(link);
}

}  // namespace desktop
