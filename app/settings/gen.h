// The general settings object (held for the whole run and read directly by
// every window) with its dialog, and the personal folder options with
// theirs. The dialogs are built in genform.cpp and foptsform.cpp.
#pragma once

#include "settings/settings.h"

#include <QDialog>
#include <QFont>

#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;
class Tcol;

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

    // The dialog: 1 after ok (the keys written), 2 after cancel (every
    // setting read again from the file or its fallback).
    int ask();
    // What "select" does with the font the font dialog gave.
    void fontChosen(const QFont& font);
    // The colours dialog of "colors".
    Tcol& colourDialog() { return *m_colours; }
    // Opens the help; set by the main window.
    std::function<void()> showHelp;
    std::function<void()> showAbout;
    std::function<void()> closeHelp;
    // Edits the signature file (the item header dialog in its signature mode).
    std::function<void(const QString& path)> editSignature;

    // Controls, by page.
    QTabWidget* pages = nullptr;
    QLineEdit *dname = nullptr, *demail = nullptr, *dreply = nullptr, *dorg = nullptr, *dsig = nullptr;
    QPushButton* sigeditbtn = nullptr;
    QLineEdit *dsmtp = nullptr, *dpop = nullptr, *dnntp = nullptr, *duser = nullptr, *dpass = nullptr;
    QComboBox* dtime = nullptr;
    // Secure connections and logins beyond the POP3 one; mail left on the server.
    QComboBox *dpopsec = nullptr, *dsmtpsec = nullptr, *dnntpsec = nullptr;
    QLineEdit *dsmtpuser = nullptr, *dsmtppass = nullptr, *dnewsuser = nullptr, *dnewspass = nullptr;
    QCheckBox *cleave = nullptr, *cuidl = nullptr, *cpipe = nullptr;
    QLineEdit* dleavedays = nullptr;
    QRadioButton *ruue = nullptr, *rmime = nullptr;
    QLineEdit* dsize = nullptr;
    QListWidget* mimelist = nullptr;
    QPushButton *mimeaddbtn = nullptr, *mimeeditbtn = nullptr, *mimedelbtn = nullptr;
    QLabel *fontname = nullptr, *fontstyle = nullptr, *sample = nullptr;
    QPushButton *fontbtn = nullptr, *colorsbtn = nullptr;
    QLineEdit *dauto = nullptr, *dlimit = nullptr;
    QCheckBox *cad = nullptr, *cxno = nullptr;
    QPushButton *okbtn = nullptr, *cancelbtn = nullptr;

signals:
    // The settings changed by ok: windows take the colours and the font.
    void settingsApplied();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void buildPages();
    QWidget* buildIdentity();
    QWidget* buildAccount();
    void buildConnections(QWidget* page, QFormLayout* form);
    void takeConnections(int leaveDays);
    QWidget* buildAttachments();
    QWidget* buildAppearance();
    QWidget* buildMiscellaneous();
    void fillFields();
    void showFont();
    void okClicked();
    void cancelClicked();
    void selectFont();
    void selectColours();
    void addMimeType();
    void editMimeType();
    void loadMimeTypes();
    bool saveMimeTypes() const;

    omail::IniFile m_ini;
    std::string m_configDir;
    Tcol* m_colours = nullptr;
};

// "fontstl" of a font: "B" bold or "R" regular, then "I" italic, "U"
// underlined and "S" struck out.
std::string fontStyleLetters(const QFont& font);

class Tfoptsform : public QDialog, public omail::FolderOptions {
    Q_OBJECT
public:
    // Loads the six options once, at creation.
    explicit Tfoptsform(const omail::IniFile& ini, QWidget* parent = nullptr);

    // 1 after ok (the six keys written), 2 after cancel (nothing changed).
    int ask();

    QCheckBox *crfrom = nullptr, *crrecip = nullptr, *csfrom = nullptr, *csrecip = nullptr, *cpfrom = nullptr,
              *cpgrp = nullptr;
    QPushButton *okbtn = nullptr, *cancelbtn = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildChecks();
    void okClicked();
    omail::IniFile m_ini;
};

// The colours dialog: background, normal, unread, selected, marked,
// highlighted, read and header, in that order.
class Tcol : public QDialog {
    Q_OBJECT
public:
    static constexpr int kColourCount = 8;
    enum Slot { Background, Normal, Unread, Selected, Marked, Highlighted, Read, Header };
    using Colours = std::array<int, kColourCount>;

    explicit Tcol(QWidget* parent = nullptr);
    void setColours(const Colours& colours);
    const Colours& colours() const { return m_colours; }
    int ask();
    // The platform colour dialog; tests put their own chooser here.
    std::function<bool(QColor& colour)> chooseColour;

    QPushButton* selectbtn[kColourCount] = {};
    QPushButton *okbtn = nullptr, *cancelbtn = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void choose(int slot);
    void showColours();

    Colours m_colours{};
    QWidget* m_panel = nullptr;
    QLabel* m_labels[kColourCount] = {};
};

// A colour stored as red in the low byte, then green, then blue.
QColor colorFromSetting(int value);
int settingFromColor(const QColor& colour);
