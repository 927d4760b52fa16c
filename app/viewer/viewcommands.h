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

    Tviewform& viewer();
    Tlogform& log();
    Theadform& headerDialog();

    // Opens the viewer on the current item, modally; the list follows it.
    void openViewer();

private:
    // No current item, or the outbox is being delivered while shown.
    bool itemBlocked() const;

    MainHost& m_host;
    std::unique_ptr<Tlogform> m_log;
    std::unique_ptr<Tviewform> m_viewer;
    std::unique_ptr<Theadform> m_head;
};
