// The general settings object (held for the whole run and read directly by
// every window) and the personal folder options.
#pragma once

#include "settings/settings.h"

#include <QDialog>
#include <QFont>

class Tgen : public QDialog, public omail::GeneralSettings {
    Q_OBJECT
public:
    // Loads the settings at once: every other window reads them from here.
    explicit Tgen(const omail::IniFile& ini, QWidget* parent = nullptr);

    // From omail.ini, or torva.ini in the user's configuration directory,
    // or the built-in defaults. Conversion errors are shown and the key
    // keeps its default.
    void loadSettings();
    // The screen and printer font: "fontnam", "fontsiz" and "fontstl".
    QFont settingsFont() const;
    const omail::IniFile& ini() const { return m_ini; }
    // Where torva.ini is looked for; the user's configuration directory.
    void setConfigDirectory(std::string dir) { m_configDir = std::move(dir); }

private:
    omail::IniFile m_ini;
    std::string m_configDir;
};

class Tfoptsform : public QDialog, public omail::FolderOptions {
    Q_OBJECT
public:
    // Loads the six options once, at creation.
    explicit Tfoptsform(const omail::IniFile& ini, QWidget* parent = nullptr);

private:
    omail::IniFile m_ini;
};

// A colour stored as red in the low byte, then green, then blue.
QColor colorFromSetting(int value);
