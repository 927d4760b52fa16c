// The decode log window: every file the decoders wrote, newest first, read
// from DECODE/decode.log; launch a file with its desktop application, save a
// copy elsewhere, or clear the log (the files stay). Its "launch newest"
// runs without the window: the viewer and the main window open the file they
// have just decoded with it.
#pragma once

#include "settings/settings.h"

#include <QDialog>
#include <QString>

#include <string>

class QLabel;
class QListWidget;
class QPushButton;

inline constexpr const char* kDecodeFolder = "DECODE";
inline constexpr const char* kDecodeLogName = "decode.log";
inline constexpr const char* kFileNotFound = "file not found";
inline constexpr const char* kNoApplication = "no associated application";
inline constexpr const char* kLaunchFailed = "failed to launch associated application";
inline constexpr const char* kSaveAsFailed = "save as failed";

class Tlogform : public QDialog {
    Q_OBJECT
public:
    Tlogform(std::string dataDir, const omail::GeneralSettings& settings, QWidget* parent = nullptr);
    ~Tlogform() override;

    // The window hidden while the log is shown (main window or viewer).
    void setCaller(QWidget* caller) { m_caller = caller; }
    // Loads the log, selects its first line and launches it, unshown.
    void launchNewest();

    // The file a log line names: the text two characters after its third
    // colon, in the decode folder; empty when the line has fewer colons.
    static QString fileNameOfLine(const QString& line);
    QString pathOfLine(const QString& line) const;
    // The decode folder of the data directory, created when missing.
    static std::string decodeFolder(const std::string& dataDir);

    QLabel* pathlabel = nullptr;
    QListWidget* logbox = nullptr;
    QPushButton* launchbtn = nullptr;
    QPushButton* resetbtn = nullptr;
    QPushButton* okbtn = nullptr;
    QPushButton* Button1 = nullptr;

public slots:
    void launchbtnClick();
    void Button1Click();
    void resetbtnClick();
    void okbtnClick() { accept(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QString logPath() const;
    void loadLog();
    QString selectedPath() const;

    std::string m_dataDir;
    const omail::GeneralSettings& m_settings;
    omail::IniFile m_ini;
    QWidget* m_caller = nullptr;
    QString m_saveDir;
};
