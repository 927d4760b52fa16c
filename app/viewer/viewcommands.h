// The main window's reading commands: viewing the current item (menu,
// pop-up, Enter, double click), its header, printing and saving it through
// the viewer without showing it, launching its attachment, and the decode log.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>

class MainHost;
class Theadform;
class Tlogform;
class Tviewform;
class QWidget;

inline constexpr const char* kNoBody = "item body doesn't exist";

class ViewCommands : public QObject {
    Q_OBJECT
public:
    ViewCommands(MainHost& host, QObject* parent = nullptr);
    ~ViewCommands() override;

    void selecteditem1Click();
    void selecteditemheader1Click();
    void printselecteditem1Click();
    void saveselecteditemas1Click();
    void launchselecteditem1Click();
    void viewdecodelog1Click();

    // Run after viewing when "autodlv" is 1: delivering the outbox.
    std::function<void()> deliverAfterViewing;
    // The viewer's compose commands: mode, source body path (empty for
    // none) and the viewer as the calling window; the dialog's result.
    using ComposeHandler = std::function<int(int mode, const std::string& source, QWidget* viewer)>;
    void setComposeHandler(ComposeHandler handler);

    Tviewform& viewer();
    Tlogform& log();
    Theadform& headerDialog();
    // The item header dialog in a mode (Theadform::Mode) on a file, whose
    // path may be relative to the data directory; its result.
    int showHeaderDialog(int mode, const std::string& path);

    // Opens the viewer on the current item, modally; the list follows it.
    void openViewer();

private:
    // No current item, or the outbox is being delivered while shown.
    bool itemBlocked() const;

    void passComposeHandler();

    MainHost& m_host;
    ComposeHandler m_compose;
    std::unique_ptr<Tlogform> m_log;
    std::unique_ptr<Tviewform> m_viewer;
    std::unique_ptr<Theadform> m_head;
};
