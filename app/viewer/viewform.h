// The viewer: one item of the shown folder, its header above its body.
// From here the user walks the folder (every step also moves the main
// window's current item), prints, saves, decodes and launches attachments,
// and answers through the compose window. Single letters typed in either
// pane run commands; every other printable key is swallowed.
#pragma once

#include "settings/settings.h"
#include "store/torvakit.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <string>

class MainHost;
class QAction;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QTimer;
class QToolBar;
class QWidget;
class Tlogform;

inline constexpr const char* kViewCaption = "view - orrindel mail";
inline constexpr const char* kCannotOpenPrinter = "cannot open printer";
inline constexpr const char* kCannotPrintHeader = "cannot print item header";
inline constexpr const char* kCannotPrintBody = "cannot print item body";
inline constexpr const char* kDecodingFailed = "decoding failed";
inline constexpr const char* kPrintThisItem = "print this item?";
inline constexpr const char* kDecodeFromHere = "decode from here?";

class Tviewform : public QMainWindow {
    Q_OBJECT
public:
    Tviewform(MainHost& host, Tlogform& log, QWidget* parent = nullptr);
    ~Tviewform() override;

    // Set by the main window before the first display.
    std::string bodyPath;
    std::string folderPath;
    QString folderName;
    int sortType = 0;
    int itemCount = 0;
    int currentRow = 0;

    // Fills caption and panes for bodyPath.
    void display();
    // True while a long body is still being filled in.
    bool bodyLoading() const { return m_pendingAt > 0; }
    // Shows the viewer modally (the main window is hidden meanwhile).
    void showModal();

    // Commands.
    void viewfirst1Click();
    void viewlast1Click();
    void viewnext2Click() { step(+1, Kind::Any); }
    void viewnext1Click() { step(-1, Kind::Any); }
    void viewnextunread1Click() { step(+1, Kind::Unread); }
    void viewnexthighlighted1Click() { step(+1, Kind::Highlighted); }
    void printitem1Click();
    void saveitemas1Click();
    void decodesinglepart1Click();
    void launchsinglepartattachment1Click();
    void launchnext1Click();
    void decodemultipart1Click();
    void decodesinglepartnetscapeattachment1Click();
    void decodelog1Click();
    // Decodes the shown item's listed part (0 first) and launches it.
    void launchPart(int index);

    // Opens the compose window: mode and source body path (empty for none);
    // returns the dialog result. Without it the compose commands are off.
    std::function<int(int mode, const std::string& source)> composeHandler;
    void setComposeHandler(std::function<int(int, const std::string&)> handler);

    QPlainTextEdit* headermemo = nullptr;
    QPlainTextEdit* bodymemo = nullptr;
    // The item's parts besides its text, under the body pane; a click, or
    // its number typed in a pane, opens one.
    QListWidget* partbox = nullptr;
    QWidget* Panel2 = nullptr;
    QToolBar* Panel1 = nullptr;
    QMenu* viewpop = nullptr;
    QMenu* vcompop = nullptr;
    QMenu* vdecpop = nullptr;
    QMenu* vsetpop = nullptr;

    // The part numbers of a subject ending in "(j/k)" or "[j/k]": prefix up
    // to and including the bracket; false when the bracket is missing or not
    // followed by digits, a separator and digits.
    static bool partCounter(const std::string& subject, std::string& prefix, int& part, int& count);

signals:
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    enum class Kind { Any, Unread, Highlighted };
    void buildMenus();
    void buildPanes();
    void applySettings();
    void step(int delta, Kind kind);
    void goToEnd(bool first);
    void markRead(int row);
    bool runKey(QChar key);
    void compose(int mode);
    bool decodeSingle();
    std::string decodeFolder() const;
    int findPartRow(const std::string& plain, const std::string& padded);

    // A long body is shown from its first lines at once and filled in
    // behind them a slice per event-loop turn, so the window stays usable.
    void setBodyText(QString text);
    void feedBody();

    MainHost& m_host;
    Tlogform& m_log;
    QString m_pendingBody;
    qsizetype m_pendingAt = 0;
    QTimer* m_bodyFeeder = nullptr;
    omail::IniFile m_ini;
    QString m_saveDir;
    QList<QAction*> m_composeActions;
    std::vector<torvakit::MimePart> m_parts;
    bool m_wasHostVisible = false;
};
