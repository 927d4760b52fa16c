// The compose window: the one place where a message or an article is
// written. A caller sets the mode and the source item, names itself as the
// calling window and shows it modally; OK has written the item (or the
// attachment set) into the outbox through the store's MakeItem, Cancel has
// written nothing. Delivery is the caller's business.
//
// mailform.cpp builds the window and its commands, composeload.cpp fills it
// for a mode and handles files (attachments, text files, templates),
// composewrite.cpp writes the item.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>

class MainHost;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QToolBar;
class QWidget;
class Taddrbookform;

namespace compose {

enum Mode {
    kNewMessage = 1,
    kReply = 2,
    kForward = 3,
    kNewArticle = 4,
    kFollowUp = 5,
    kRecompose = 6,
};
inline bool isNewsMode(int mode) { return mode > kForward; }

inline constexpr const char* kMissingRecipient = "missing recipient";
inline constexpr const char* kMissingSubject = "missing subject";
inline constexpr const char* kMissingBody = "missing body";
inline constexpr const char* kCannotWrite = "cannot write item to outbox";
inline constexpr const char* kCannotReadAttachment = "cannot read attachment file";
inline constexpr const char* kClearAllQuestion = "clear all, are you sure?";
inline constexpr const char* kTemplateFilter = "template files (*.omt)";
inline constexpr const char* kTemplateExtension = ".omt";
inline constexpr int kTemplateLines = 5;
inline constexpr int kDesignedWidth = 640;
inline constexpr int kDesignedHeight = 480;

// The caption of a mode.
QString captionFor(int mode);

}  // namespace compose

class Tmailform : public QDialog {
    Q_OBJECT
public:
    explicit Tmailform(MainHost& host, QWidget* parent = nullptr);
    ~Tmailform() override;

    // 1-6 and the source item's body path (a newsgroup name for mode 4).
    void setMode(int mode, const QString& sourceItem);
    // 1 the main window, 2 the viewer; the window is hidden while composing.
    void setCaller(int caller, QWidget* callerWindow);
    // 1 after OK (the item is in the outbox), 2 after Cancel.
    int showModal();
    int mode() const { return m_mode; }
    // The address book the pickers use (created on demand without one).
    void setAddressBook(Taddrbookform* book) { m_book = book; }

    // File dialogs go through this: title, directory, filter, save; the
    // chosen path or empty. Tests and the user-level driver replace it.
    using FileChooser = std::function<QString(const QString&, const QString&, const QString&, bool)>;
    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
    // The group picker over "subscr.lst": the chosen group or empty.
    using GroupPicker = std::function<QString(const QStringList&)>;
    void setGroupPicker(GroupPicker picker) { m_pickGroup = std::move(picker); }

    QString references() const { return m_references; }
    // Fields a new message starts with (a mailto: link), for the next time
    // the window opens only.
    void setStartFields(const QString& to, const QString& cc, const QString& subject, const QString& body);

    // Controls, named as the rest of the program refers to them.
    QToolBar* Panel1 = nullptr;
    QWidget* topanel = nullptr;
    QWidget* ccpanel = nullptr;
    QWidget* attpanel = nullptr;
    QWidget* folpanel = nullptr;
    QWidget* Panel4 = nullptr;
    QLineEdit* dto = nullptr;
    QLineEdit* dsub = nullptr;
    QLineEdit* dcc = nullptr;
    QLineEdit* datt = nullptr;
    QLineEdit* drep = nullptr;
    QLineEdit* dfol = nullptr;
    QPushButton* tobtn = nullptr;
    QPushButton* ccbtn = nullptr;
    QPushButton* attbtn = nullptr;
    QPushButton* repbtn = nullptr;
    QPushButton* folbtn = nullptr;
    QPlainTextEdit* memo = nullptr;
    QPlainTextEdit* ClipMemo = nullptr;
    QMenu* commpop = nullptr;
    QAction* toolbar1 = nullptr;
    QAction* allfields = nullptr;

public slots:
    void exitcompose1Click();  // ok
    void cancelbtnClick();
    void clearall1Click();
    void inserttextfile1Click();
    void appendtextfile1Click();
    void mergetemplatefile1Click();
    void saveastemplatefile1Click();
    void tobtnClick();
    void ccbtnClick();
    void repbtnClick();
    void folbtnClick();
    void attbtnClick();
    void layoutPanels();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

private:
    // mailform.cpp
    void buildFields();
    void buildMenus();
    void buildToolbar();
    void applyLook();
    void setCaption();
    QString pickAddress();
    void addPicked(QLineEdit* field, const QString& picked, bool replace);
    QString pickGroupLine();
    void restorePlace();
    // composeload.cpp
    void loadFields();
    void loadReply(int type);
    void loadForward();
    void loadRecompose(int type);
    bool loadBodyFile(const QString& path);
    void pasteFileText(const QString& path, bool append);
    QString choose(const QString& title, QString& directory, const QString& filter, bool save);
    // startfields.cpp
    void applyStartFields();
    // composewrite.cpp
    bool checkFields();
    bool writeItem();

    MainHost& m_host;
    Taddrbookform* m_book = nullptr;
    Taddrbookform* m_ownBook = nullptr;
    FileChooser m_chooseFile;
    GroupPicker m_pickGroup;
    QWidget* m_callerWindow = nullptr;
    int m_caller = 1;
    bool m_shown = false;
    int m_mode = compose::kNewMessage;
    QString m_source;
    QString m_references;
    QString m_attachDir;
    QString m_textDir;
    QString m_templateDir;
    QStringList m_startFields;
};
