// The program's place on the desktop while it runs: it takes mailto: links
// handed over by later processes (and its own), and tells of new mail that
// automatic retrieval filed while none of its windows was active.
#pragma once

#include "desktop/handover.h"
#include "desktop/notices.h"

#include <QObject>
#include <QStringList>

class QTimer;
class Tmainform;

namespace desktop {

class DesktopSession : public QObject {
    Q_OBJECT
public:
    explicit DesktopSession(Tmainform& window);

    // Opens the compose window for a mailto: link as soon as no other
    // modal window is open; links that come meanwhile wait their turn.
    void openLink(const QString& link);

private:
    void openPending();

    Tmainform& m_window;
    LinkReceiver m_receiver;
    NewMailNotices m_notices;
    QStringList m_pending;
    QTimer* m_retry = nullptr;
    bool m_opening = false;
};

}  // namespace desktop
