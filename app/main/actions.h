// The main window's commands: one QAction per menu entry, held by name so
// each command family connects its handlers to the entries it serves. The
// pop-up menus and toolbar buttons run these same actions.
#pragma once

#include <QAction>

struct MainActions {
    // "&orrindel mail"
    QAction* selectall1 = nullptr;
    QAction* moveselecteditemstofolder1 = nullptr;
    QAction* moveallitemstofolder1 = nullptr;
    QAction* deleteselecteditems1 = nullptr;
    QAction* deleteallitems1 = nullptr;
    QAction* highlightselecteditems1 = nullptr;
    QAction* unhighlightselecteditems1 = nullptr;
    QAction* findinsubject1 = nullptr;
    QAction* findauthor1 = nullptr;
    QAction* findagain1 = nullptr;
    QAction* expireselectedfolderorgroup1 = nullptr;
    QAction* expireallnewsgroups1 = nullptr;
    QAction* canceldeliverorretrieve1 = nullptr;
    QAction* exitorrindelmail1 = nullptr;
    // "&view"
    QAction* selecteditem1 = nullptr;
    QAction* selecteditemheader1 = nullptr;
    QAction* launchselecteditem1 = nullptr;
    QAction* viewdecodelog1 = nullptr;
    QAction* printselecteditem1 = nullptr;
    QAction* saveselecteditemas1 = nullptr;
    // "&compose"
    QAction* newemailmessage1 = nullptr;
    QAction* replytoselecteditemviaemail1 = nullptr;
    QAction* newnewsarticle1 = nullptr;
    QAction* followupselecteditemviausenet1 = nullptr;
    QAction* forwardselecteditem1 = nullptr;
    QAction* recomposeselecteditem1 = nullptr;
    QAction* editselecteditemheaderinoutbox1 = nullptr;
    QAction* editselecteditembodyinoutbox1 = nullptr;
    // "&deliver"
    QAction* sendemailmessagesinoutbox1 = nullptr;
    QAction* postnewsarticlesinoutbox1 = nullptr;
    QAction* deliverallitemsinoutbox1 = nullptr;
    // "&retrieve"
    QAction* retrieveemailmessages1 = nullptr;
    QAction* newsarticleheadersandbodies1 = nullptr;
    QAction* newsarticleheaders1 = nullptr;
    QAction* selectednewsarticlebodies1 = nullptr;
    QAction* highlightednewsarticlebodies1 = nullptr;
    QAction* headersandbodiessubscribed1 = nullptr;
    QAction* headerssubscribed1 = nullptr;
    QAction* highlightedbodiessubscribed1 = nullptr;
    // "&settings"
    QAction* general1 = nullptr;
    QAction* addressbook1 = nullptr;
    QAction* newsgroups1 = nullptr;
    QAction* create1 = nullptr;
    QAction* renameselected1 = nullptr;
    QAction* deleteselected1 = nullptr;
    QAction* options1 = nullptr;
    QAction* toolbar1 = nullptr;
    QAction* statusbar1 = nullptr;
    QAction* sortbystatus1 = nullptr;
    // "&help"
    QAction* orrindelmailhelp1 = nullptr;
    QAction* aboutorrindelmail1 = nullptr;
};

// Connects a command to its entry and enables the entry (entries without a
// command stay greyed). Pop-up twins follow the entry's enabled state.
template <typename Receiver, typename Handler>
void bindAction(QAction* action, Receiver* receiver, Handler handler) {
    QObject::connect(action, &QAction::triggered, receiver, handler);
    action->setEnabled(true);
}
