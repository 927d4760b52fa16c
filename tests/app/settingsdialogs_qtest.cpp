// The settings dialogs as a user meets them: ok writes the keys in their
// order (a new file readable only by its owner), a bad number keeps the
// dialog open and writes nothing, cancel reads everything again, the font
// and colours come back as stored letters and numbers, and a first start
// without omail.ini opens the general settings.
#include "main/mainform.h"
#include "settings/fontform.h"
#include "settings/gen.h"
#include "settings/mimeform.h"
#include "support/tempdir.h"
#include "windowfixture.h"
#include "ui/dialogs.h"
#include "ui/qtloop.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

using testsupport::onNextModal;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// The keys of the file in the order they stand.
QStringList keysInFile() {
    QStringList keys;
    for (const QString& line : QString::fromStdString(readFile("omail.ini")).split('\n'))
        if (line.contains('=')) keys << line.section('=', 0, 0).trimmed();
    return keys;
}

}  // namespace

class SettingsDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void fontStylesAreStoredAsLetters();
    void theFontDialogKeepsTheSizeInRangeAndRefusesBadSizes();
    void okWritesEveryKeyInOrderIntoAPrivateFile();
    void aBadNumberKeepsTheDialogOpenAndWritesNothing();
    void cancelReadsTheFileOrTheFallbackAgain();
    void coloursComeBackInTheirOrderAndReachTheLists();
    void folderOptionsWriteTheirKeysInOrder();
    void mimeTypesAreEditedAndWrittenSorted();
    void aFirstStartWithoutSettingsOpensThem();

private:
    std::unique_ptr<testsupport::TempDir> m_dir;
    std::unique_ptr<testsupport::TempDir> m_config;
    QStringList m_boxes;
};

void SettingsDialogsTest::init() {
    m_dir = std::make_unique<testsupport::TempDir>(true);
    m_config = std::make_unique<testsupport::TempDir>(false);
    m_boxes.clear();
    ui::setInformationHook([this](const QString& text) { m_boxes << text; });
}

void SettingsDialogsTest::cleanup() {
    ui::setInformationHook(nullptr);
    ui::setDialogHook(nullptr);
    m_dir.reset();
}

void SettingsDialogsTest::fontStylesAreStoredAsLetters() {
    QFont f("Sans", 10);
    f.setBold(true);
    f.setItalic(true);
    QCOMPARE(fontStyleLetters(f), std::string("BI"));
    QFont g("Sans", 9);
    g.setUnderline(true);
    QCOMPARE(fontStyleLetters(g), std::string("RU"));
    g.setStrikeOut(true);
    g.setItalic(true);
    QCOMPARE(fontStyleLetters(g), std::string("RIUS"));

    omail::IniFile ini(m_dir->path());
    Tgen gen(ini);
    gen.setConfigDirectory(m_config->path());
    gen.loadSettings();
    onNextModal([&](QWidget*) {
        QCOMPARE(gen.fontstyle->text(), QString("B 8"));
        gen.fontChosen(f);
        QCOMPARE(gen.fontstyle->text(), QString("BI 10"));
        QVERIFY(gen.sample->font().italic());
        gen.okbtn->click();
    });
    QCOMPARE(gen.ask(), ui::kResultOk);
    QCOMPARE(QString::fromStdString(ini.readString("fontstl", "")), QString("BI"));
    QCOMPARE(ini.readInteger("fontsiz", 0), 10);
}

void SettingsDialogsTest::theFontDialogKeepsTheSizeInRangeAndRefusesBadSizes() {
    writeFile("omail.ini", "[general]\nfontsiz=30\nfontstl=BI\n");
    omail::IniFile ini(m_dir->path());
    Tgen gen(ini);
    gen.setConfigDirectory(m_config->path());
    gen.loadSettings();
    QStringList started;
    int offered = 0;
    bool startedBoldItalic = false;
    ui::setDialogHook([&](QDialog& dialog) {
        auto* form = qobject_cast<Tfontform*>(&dialog);
        if (!form) return ui::kResultCancel;
        started << form->size->currentText();
        offered = form->size->count();
        startedBoldItalic = form->bold->isChecked() && form->italic->isChecked();
        for (const char* bad : {"x9", "13", "6", ""}) {
            form->size->setEditText(bad);
            form->okbtn->click();
            if (form->result() == ui::kResultOk) return ui::kResultOk;  // taken: the check below fails
        }
        form->size->setEditText("9");
        form->bold->setChecked(false);
        form->italic->setChecked(false);
        form->underline->setChecked(true);
        form->okbtn->click();
        return form->result() == ui::kResultOk ? ui::kResultOk : ui::kResultCancel;
    });
    gen.fontbtn->click();
    QCOMPARE(started, QStringList({"12"}));
    QVERIFY(startedBoldItalic);
    QCOMPARE(offered, Tfontform::kLargestSize - Tfontform::kSmallestSize + 1);
    QCOMPARE(m_boxes, QStringList({"'x9' is not a valid integer value", "the size must be from 7 to 12",
                                   "the size must be from 7 to 12", "'' is not a valid integer value"}));
    QCOMPARE(gen.fontsiz, 9);
    QCOMPARE(gen.fontstl, std::string("RU"));
    QCOMPARE(gen.fontstyle->text(), QString("RU 9"));
    // Whatever font comes in, the size kept is one the dialog offers.
    gen.fontChosen(QFont("Sans", 30));
    QCOMPARE(gen.fontsiz, 12);
    gen.fontChosen(QFont("Sans", 5));
    QCOMPARE(gen.fontsiz, 7);
}

void SettingsDialogsTest::okWritesEveryKeyInOrderIntoAPrivateFile() {
    omail::IniFile ini(m_dir->path());
    Tgen gen(ini);
    gen.setConfigDirectory(m_config->path());
    gen.loadSettings();
    int applied = 0;
    connect(&gen, &Tgen::settingsApplied, this, [&] { ++applied; });
    onNextModal([&](QWidget* w) {
        QCOMPARE(w, static_cast<QWidget*>(&gen));
        QCOMPARE(gen.pages->currentIndex(), 0);
        QCOMPARE(gen.pages->tabText(1), QString("account"));
        QCOMPARE(gen.focusWidget(), static_cast<QWidget*>(gen.dname));
        QCOMPARE(gen.dname->text(), QString("Your Name"));
        QVERIFY(gen.dsize->isEnabled());
        gen.dname->setText("Ann Lee");
        gen.dsig->clear();
        gen.duser->setText("ann");
        gen.dpass->setText("secret");
        gen.dtime->setEditText("CET");
        gen.rmime->setChecked(true);
        QVERIFY(!gen.dsize->isEnabled());
        gen.dauto->setText("15");
        gen.cxno->setChecked(false);
        gen.okbtn->click();
    });
    QCOMPARE(gen.ask(), ui::kResultOk);
    QCOMPARE(applied, 1);
    QCOMPARE(keysInFile(), QStringList({"rname", "email", "reply", "org", "smtp", "pop", "nntp", "user", "pass",
                                        "timez", "timei", "sigfile", "asize", "hlimit", "fontnam", "fontstl",
                                        "fontsiz", "backcol", "normcol", "unredcol", "headcol", "readcol", "highcol",
                                        "markcol", "seltcol", "xnoarc", "autodlv", "enctyp",
                                        // the connection keys of our own follow the specified ones
                                        "popsec", "smtpsec", "nntpsec", "smtpuser", "smtppass", "newsuser",
                                        "newspass", "leave", "leavedays", "uidl", "smtppipe"}));
    struct stat st;
    QCOMPARE(stat("omail.ini", &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0600);
    QCOMPARE(QString::fromStdString(ini.readString("rname", "")), QString("Ann Lee"));
    QCOMPARE(QString::fromStdString(readFile("omail.ini")).contains("sigfile=$%^&*"), true);
    QCOMPARE(QString::fromStdString(ini.readString("timez", "")), QString("CET"));
    QCOMPARE(ini.readInteger("timei", -1), 15);
    QCOMPARE(ini.readInteger("enctyp", -1), 1);
    QCOMPARE(ini.readInteger("xnoarc", -1), 0);
    QCOMPARE(gen.pass, std::string("secret"));
}

void SettingsDialogsTest::aBadNumberKeepsTheDialogOpenAndWritesNothing() {
    omail::IniFile ini(m_dir->path());
    Tgen gen(ini);
    gen.setConfigDirectory(m_config->path());
    gen.loadSettings();
    for (QLineEdit* Tgen::*field : {&Tgen::dsize, &Tgen::dauto, &Tgen::dlimit}) {
        m_boxes.clear();
        onNextModal([&](QWidget*) {
            gen.dname->setText("Changed");
            (gen.*field)->setText("12a");
            gen.okbtn->click();
            QVERIFY(gen.isVisible());
            QCOMPARE(m_boxes, QStringList({"'12a' is not a valid integer value"}));
            gen.cancelbtn->click();
        });
        QCOMPARE(gen.ask(), ui::kResultCancel);
        QVERIFY(!std::filesystem::exists("omail.ini"));
        QCOMPARE(gen.rname, std::string("Your Name"));
    }
}

void SettingsDialogsTest::cancelReadsTheFileOrTheFallbackAgain() {
    omail::IniFile ini(m_dir->path());
    Tgen gen(ini);
    gen.setConfigDirectory(m_config->path());
    writeFile(m_config->file("torva.ini"), "[general]\nrname=Cy Dee\nuser=cy\n");
    gen.loadSettings();
    auto changeAndCancel = [&] {
        onNextModal([&](QWidget*) {
            gen.dname->setText("Changed");
            QFont f("Sans", 11);
            f.setUnderline(true);
            gen.fontChosen(f);
            gen.cancelbtn->click();
        });
        QCOMPARE(gen.ask(), ui::kResultCancel);
    };
    changeAndCancel();
    QCOMPARE(gen.rname, std::string("Cy Dee"));
    QCOMPARE(gen.email, std::string("cy@example.net"));
    QCOMPARE(gen.org, std::string("Your organization"));
    QCOMPARE(gen.fontstl, std::string("B"));
    QVERIFY(!std::filesystem::exists("omail.ini"));

    writeFile("omail.ini", "[general]\nrname=Bo\nfontstl=I\n");
    changeAndCancel();
    QCOMPARE(gen.rname, std::string("Bo"));
    QCOMPARE(gen.org, std::string("Your Organization"));
    QCOMPARE(gen.fontstl, std::string("I"));
    QCOMPARE(QString::fromStdString(readFile("omail.ini")), QString("[general]\nrname=Bo\nfontstl=I\n"));
}

void SettingsDialogsTest::coloursComeBackInTheirOrderAndReachTheLists() {
    writeFile("omail.ini", "[general]\nmleft=-1\n");
    QtEventLoop loop;
    Tmainform w;
    Tgen gen(w.ini(), &w);
    w.useSettings(&gen, nullptr);
    w.applySettings(gen);
    Tcol& col = gen.colourDialog();
    // The buttons are clicked in order; each gets the value of its position.
    int chosen = 0;
    col.chooseColour = [&chosen](QColor& c) {
        c = colorFromSetting(0x010101 * ++chosen);
        return true;
    };
    onNextModal([&](QWidget*) {
        gen.pages->setCurrentIndex(3);
        onNextModal([&](QWidget* c) {
            QCOMPARE(c, static_cast<QWidget*>(&col));
            QCOMPARE(col.windowTitle(), QString("colors"));
            QCOMPARE(col.focusWidget(), static_cast<QWidget*>(col.okbtn));
            QCOMPARE(col.colours()[Tcol::Background], 12632256);
            QCOMPARE(col.colours()[Tcol::Header], 16777215);
            for (QPushButton* select : col.selectbtn) select->click();
            col.okbtn->click();
        });
        gen.colorsbtn->click();
        QCOMPARE(gen.sample->palette().color(QPalette::Window), colorFromSetting(0x010101));
        gen.okbtn->click();
    });
    QCOMPARE(gen.ask(), ui::kResultOk);
    const int expected[] = {gen.backcol, gen.normcol, gen.unredcol, gen.seltcol,
                            gen.markcol, gen.highcol, gen.readcol, gen.headcol};
    for (int i = 0; i < Tcol::kColourCount; ++i) QCOMPARE(expected[i], 0x010101 * (i + 1));
    QCOMPARE(w.ini().readInteger("headcol", 0), 0x080808);
    QCOMPARE(w.mailbox->palette().color(QPalette::Base), colorFromSetting(0x010101));
    w.useSettings(nullptr, nullptr);
}

void SettingsDialogsTest::folderOptionsWriteTheirKeysInOrder() {
    omail::IniFile ini(m_dir->path());
    Tfoptsform options(ini);
    QCOMPARE(options.windowTitle(), QString("personal folder options (global)"));
    onNextModal([&](QWidget*) {
        QVERIFY(!options.crfrom->isChecked() && options.crrecip->isChecked() && options.csfrom->isChecked());
        options.crfrom->setChecked(true);
        options.csfrom->setChecked(false);
        options.cancelbtn->click();
    });
    QCOMPARE(options.ask(), ui::kResultCancel);
    QCOMPARE(options.rfrom, 0);
    QVERIFY(!std::filesystem::exists("omail.ini"));
    onNextModal([&](QWidget*) {
        QVERIFY(!options.crfrom->isChecked());  // the switches, not the last ticks
        options.crfrom->setChecked(true);
        options.cpgrp->setChecked(true);
        options.csfrom->setChecked(false);
        options.okbtn->click();
    });
    QCOMPARE(options.ask(), ui::kResultOk);
    QCOMPARE(keysInFile(), QStringList({"rfrom", "rrecip", "sfrom", "srecip", "pfrom", "pgrp"}));
    QCOMPARE(QString::fromStdString(readFile("omail.ini")),
             QString("[general]\nrfrom=1\nrrecip=1\nsfrom=0\nsrecip=0\npfrom=0\npgrp=1\n"));
    QCOMPARE(options.pgrp, 1);
}

void SettingsDialogsTest::aFirstStartWithoutSettingsOpensThem() {
    QStringList shown;
    ui::setDialogHook([&](QDialog& d) {
        shown << d.windowTitle();
        return ui::kResultCancel;
    });
    QtEventLoop loop;
    Tmainform w;
    Tgen gen(w.ini(), &w);
    w.useSettings(&gen, nullptr);
    w.show();
    QTRY_COMPARE(shown, QStringList({"general settings"}));
    QVERIFY(!std::filesystem::exists("omail.ini"));  // cancelled: nothing written
    // Later shows open nothing.
    w.hide();
    w.show();
    QTest::qWait(50);
    QCOMPARE(shown.size(), 1);
    w.close();
    w.useSettings(nullptr, nullptr);
}

void SettingsDialogsTest::mimeTypesAreEditedAndWrittenSorted() {
    writeFile("mimetype.txt", "text/plain txt\r\nimage/jpeg jpg jpeg\r\n");
    omail::IniFile ini(m_dir->path());
    Tgen gen(ini);
    gen.setConfigDirectory(m_config->path());
    gen.loadSettings();
    auto entry = [](const QString& type, const QString& extensions, bool ok) {
        onNextModal([=](QWidget* w) {
            auto* form = qobject_cast<Tmimeform*>(w);
            QVERIFY(form);
            form->dtype->setText(type);
            form->dext->setText(extensions);
            (ok ? form->okbtn : form->cancelbtn)->click();
        });
    };
    onNextModal([&](QWidget*) {
        QCOMPARE(gen.mimelist->count(), 2);
        QCOMPARE(gen.mimelist->item(0)->text(), QString("image/jpeg jpg jpeg"));
        entry("", "png", true);  // a missing field keeps the entry dialog open
        QTimer::singleShot(200, [&] {
            if (auto* open = qobject_cast<Tmimeform*>(QApplication::activeModalWidget())) open->cancelbtn->click();
        });
        gen.mimeaddbtn->click();
        QCOMPARE(m_boxes, QStringList({"missing field"}));
        entry("image/png", " png  ", true);
        gen.mimeaddbtn->click();
        gen.mimelist->setCurrentRow(2);  // text/plain
        entry("text/plain", "txt text", true);
        gen.mimeeditbtn->click();
        gen.mimelist->setCurrentRow(0);
        gen.mimedelbtn->click();
        gen.okbtn->click();
    });
    QCOMPARE(gen.ask(), ui::kResultOk);
    QCOMPARE(QString::fromStdString(readFile("mimetype.txt")), QString("image/png png\r\ntext/plain txt text\r\n"));
}

QTEST_MAIN(SettingsDialogsTest)
#include "settingsdialogs_qtest.moc"
