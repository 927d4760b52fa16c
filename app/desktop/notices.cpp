#include "desktop/notices.h"

#include "platform/fsys.h"
#include "store/torvakit.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QStringDecoder>

namespace desktop {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kAppName = "orrindel mail";
constexpr const char* kAppIcon = "org.orrindel.mail";
constexpr int kMaxNameLength = 60;
constexpr int kMaxHeaderLines = 500;

QString textOf(const std::string& bytes) {
    const QByteArray raw = QByteArray::fromStdString(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(raw);
    if (utf8.hasError()) text = QString::fromLatin1(raw);
    return text;
}

QString plainName(QString name) {
    name.remove('<').remove('>').remove('&');
    for (QChar& c : name)
        if (c.category() == QChar::Other_Control) c = ' ';
    name = name.simplified();
    if (name.size() > kMaxNameLength) name = name.left(kMaxNameLength - 3) + "...";
    return name;
}

// The From value of a header file, unfolded; empty when there is none.
std::string fromValue(const std::string& headerPath) {
    // Store names are matched without regard to case ("in" is "IN" on disk).
    QFile file(QString::fromStdString(platform::resolvePath(headerPath)));
    if (!file.open(QIODevice::ReadOnly)) return {};
    std::string value;
    bool inFrom = false;
    for (int n = 0; n < kMaxHeaderLines && !file.atEnd(); ++n) {
        std::string line = file.readLine().toStdString();
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (inFrom && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            value += line;
            continue;
        }
        if (inFrom || (line.empty() && n > 0)) break;
        if (int at = torvakit::headercompare(line, "From:")) {
            value = line.substr(static_cast<size_t>(at));
            inFrom = true;
        }
    }
    return value;
}

}  // namespace

QString noticeSummary(int count) {
    return count == 1 ? QString("1 new message") : QString("%1 new messages").arg(count);
}

QString noticeBody(const QStringList& authors) {
    QStringList named;
    int others = 0;  // items by senders not named
    for (const QString& a : authors) {
        if (!a.isEmpty() && named.contains(a)) continue;
        if (!a.isEmpty() && named.size() < kNamedAuthors) named.push_back(a);
        else ++others;
    }
    if (named.isEmpty()) return {};
    QString text = "from " + named.front();
    for (qsizetype i = 1; i < named.size(); ++i) {
        const bool last = i + 1 == named.size() && others == 0;
        text += (last ? " and " : ", ") + named[i];
    }
    if (others > 0) text += QString(" and %1 more").arg(others);
    return text;
}

QString authorOfHeader(const std::string& headerPath) {
    std::string value = fromValue(headerPath);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
    if (value.empty()) return {};
    std::string decoded;
    torvakit::DecodeAddressValue(value, decoded);
    value = decoded;
    std::string name;
    torvakit::extractrealname(value, 0, name);
    return plainName(textOf(name.empty() ? value : name));
}

void NewMailNotices::filed(const std::string& headerPath) {
    ++m_count;
    m_authors.push_back(authorOfHeader(headerPath));
}

void NewMailNotices::retrievalEnded(bool windowActive) {
    if (m_count > 0 && !windowActive) sendNotification(noticeSummary(m_count), noticeBody(m_authors));
    m_count = 0;
    m_authors.clear();
}

bool sendNotification(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusConnectionInterface* daemon = bus.interface();
    if (!daemon) return false;
    const bool running = daemon->isServiceRegistered(kService).value();
    if (!running && !daemon->activatableServiceNames().value().contains(kService)) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, "Notify");
    QVariantMap hints;
    hints["desktop-entry"] = QString(kAppIcon);
    hints["category"] = QString("email.arrived");
    call << QString(kAppName) << uint(0) << QString(kAppIcon) << summary << body << QStringList() << hints
         << int(-1);
    call.setAutoStartService(true);
    return bus.send(call);
}

}  // namespace desktop
