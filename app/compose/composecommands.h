// The main window's compose, deliver and address book commands: the entry
// points of the compose window by mode, the outbox deliveries, and the
// address book opened on the current item's author.
#pragma once

#include "transfer/delivery.h"

#include <QObject>

#include <memory>
#include <string>

class MainHost;
class Taddrbookform;
class Tmailform;
class QWidget;

class ComposeCommands : public QObject {
    Q_OBJECT
public:
    ComposeCommands(MainHost& host, QObject* parent = nullptr);
    ~ComposeCommands() override;

    Tmailform& composeWindow() { return *m_mailform; }
    Taddrbookform& addressBook() { return *m_book; }
    transfer::Delivery& delivery() { return *m_delivery; }

public slots:
    void newemailmessage1Click();
    void replytoselecteditemviaemail1Click();
    void newnewsarticle1Click();
    void followupselecteditemviausenet1Click();
    void forwardselecteditem1Click();
    void recomposeselecteditem1Click();
    void sendemailmessagesinoutbox1Click();
    void postnewsarticlesinoutbox1Click();
    void deliverallitemsinoutbox1Click();
    void addressbook1Click();
    // After the viewer closes with automatic delivery on.
    void deliverAfterViewer();
    // The viewer's compose commands, with the viewer as the calling window;
    // the compose window's result. Delivery waits until the viewer closes.
    int composeFromViewer(int mode, const std::string& source, QWidget* viewer);
    // A new message with its fields filled in (a mailto: link); as the
    // "new e-mail message" command otherwise.
    void newMessageWith(const QString& to, const QString& cc, const QString& subject, const QString& body);

private:
    // Modes that need the current item do nothing without one.
    void composeOnItem(int mode);
    void compose(int mode, const QString& source);

    MainHost& m_host;
    Tmailform* m_mailform = nullptr;
    Taddrbookform* m_book = nullptr;
    std::unique_ptr<transfer::Delivery> m_delivery;
};
