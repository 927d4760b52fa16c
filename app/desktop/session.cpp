#include "desktop/session.h"

#include "compose/composecommands.h"
#include "desktop/mailto.h"
#include "main/mainform.h"
#include "transfer/transfer.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

namespace desktop {

namespace {
constexpr int kRetryMs = 300;
}

DesktopSession::DesktopSession(Tmainform& window)
    : QObject(&window),
      m_window(window),
      m_receiver(QString::fromStdString(window.dataDirectory()), [this](const QString& link) { openLink(link); }, this) {
    if (!m_receiver.listen())
        std::fprintf(stderr, "omail: mailto: links cannot be handed to this program (no local socket)\n");
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    m_retry->setInterval(kRetryMs);
    connect(m_retry, &QTimer::timeout, this, &DesktopSession::openPending);

    transfer::Transfers& transfers = window.transfers();
    transfers.addFiledHook([this](const std::string& headerPath) {
        if (m_window.transfers().automaticRun) m_notices.filed(headerPath);
    });
    // Every transfer ends through cancel; only an automatic retrieval has
    // collected anything.
    transfers.addCancelHook([this](bool) { m_notices.retrievalEnded(QApplication::activeWindow() != nullptr); });
}

void DesktopSession::openLink(const QString& link) {
    m_pending.push_back(link);
    // Never from inside the socket's or the caller's handler: the compose
    // window runs a loop of its own.
    if (!m_opening) m_retry->start(0);
}

void DesktopSession::openPending() {
    if (m_opening) return;
    if (QApplication::activeModalWidget()) {
        m_retry->start(kRetryMs);
        return;
    }
    m_opening = true;
    while (!m_pending.isEmpty()) {
        const std::optional<MailtoFields> fields = parseMailto(m_pending.takeFirst());
        if (!fields) continue;
        m_window.showNormal();
        m_window.raise();
        m_window.activateWindow();
        m_window.composeCommands().newMessageWith(fields->to, fields->cc, fields->subject, fields->body);
    }
    m_opening = false;
}

}  // namespace desktop
