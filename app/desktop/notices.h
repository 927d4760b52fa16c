// Desktop notices of new mail: the messages an automatic retrieval filed
// are collected while it runs, and when it ends while the main window is
// not the active one a freedesktop notification over the session bus says
// how many arrived and from whom. Without a bus or a notification service
// nothing is shown and nothing waits.
#pragma once

#include <QString>
#include <QStringList>

#include <string>

namespace desktop {

inline constexpr int kNamedAuthors = 3;

// "1 new message" / "N new messages".
QString noticeSummary(int count);
// "from A, B and C" for the authors of the items filed (one entry each,
// empty when unknown): at most kNamedAuthors distinct names, then "and N
// more" for the items of anyone else.
QString noticeBody(const QStringList& authors);
// The display name (else the address) of a header file's From line; empty
// when it has none. Characters a notification server would read as markup
// are dropped, since the name comes from whoever sent the mail.
QString authorOfHeader(const std::string& headerPath);

class NewMailNotices {
public:
    // An item an automatic retrieval filed (its header file).
    void filed(const std::string& headerPath);
    // The retrieval has ended: notifies when anything was filed and the
    // window is not active, and forgets what was collected either way.
    void retrievalEnded(bool windowActive);
    int pending() const { return m_count; }

private:
    int m_count = 0;
    QStringList m_authors;
};

// Sends one notification; false (and nothing sent) when no session bus or
// no notification service is there. Never waits for an answer.
bool sendNotification(const QString& summary, const QString& body);

}  // namespace desktop
