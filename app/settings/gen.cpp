// The general settings: loading, the dialog's fields and what ok and cancel
// do with them. The pages are laid out in genform.cpp.
#include "settings/gen.h"

#include "platform/fsys.h"
#include "settings/fontform.h"
#include "platform/profile.h"
#include "settings/mimeform.h"
#include "store/lines.h"
#include "ui/dialogs.h"
#include "ui/waitcursor.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTabWidget>

#include <algorithm>

namespace {

constexpr const char* kMimeTypeFile = "mimetype.txt";

omail::GeneralSettings::ErrorSink errorBox(QWidget* parent) {
    return [parent](const std::string& text) { ui::informationBox(parent, QString::fromStdString(text)); };
}

QString q(const std::string& s) { return QString::fromLocal8Bit(s.data(), qsizetype(s.size())); }
std::string s8(const QString& s) { return s.toLocal8Bit().toStdString(); }

}  // namespace

Tgen::Tgen(const omail::IniFile& ini, QWidget* parent)
    : QDialog(parent), m_ini(ini), m_configDir(platform::GetWindowsDirectory()) {
    setObjectName("gen");
    setWindowTitle("general settings");
    loadSettings();
    m_colours = new Tcol(this);
    buildPages();
}

void Tgen::loadSettings() { load(m_ini, m_configDir, errorBox(parentWidget())); }

QFont Tgen::settingsFont() const {
    QFont font(QString::fromStdString(fontnam));
    if (fontsiz > 0) font.setPointSize(fontsiz);
    omail::FontStyle style = omail::FontStyle::parse(fontstl);
    font.setBold(style.bold);
    font.setItalic(style.italic);
    font.setUnderline(style.underline);
    font.setStrikeOut(style.strikeOut);
    return font;
}

std::string fontStyleLetters(const QFont& font) {
    std::string letters = font.bold() ? "B" : "R";
    if (font.italic()) letters += 'I';
    if (font.underline()) letters += 'U';
    if (font.strikeOut()) letters += 'S';
    return letters;
}

int Tgen::ask() {
    const int result = ui::execDialog(*this);
    if (closeHelp) closeHelp();
    return result == ui::kResultOk ? ui::kResultOk : ui::kResultCancel;
}

void Tgen::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ui::WaitCursor wait;
    pages->setCurrentIndex(0);
    fillFields();
    dname->setFocus();
    dname->selectAll();
}

void Tgen::fillFields() {
    dname->setText(q(rname));
    demail->setText(q(email));
    dreply->setText(q(reply));
    dorg->setText(q(org));
    dsig->setText(q(sigfile));
    dsmtp->setText(q(smtp));
    dpop->setText(q(pop));
    dnntp->setText(q(nntp));
    duser->setText(q(user));
    dpass->setText(q(pass));
    dtime->setEditText(q(timez));
    dpopsec->setCurrentIndex(std::clamp(popsec, 0, 2));
    dsmtpsec->setCurrentIndex(std::clamp(smtpsec, 0, 2));
    dnntpsec->setCurrentIndex(std::clamp(nntpsec, 0, 2));
    dsmtpuser->setText(q(smtpuser));
    dsmtppass->setText(q(smtppass));
    dnewsuser->setText(q(newsuser));
    dnewspass->setText(q(newspass));
    dleavedays->setText(QString::number(leavedays));
    cuidl->setChecked(uidl == 1);
    cpipe->setChecked(smtppipe == 1);
    cleave->setChecked(leave == 1);
    dleavedays->setEnabled(leave == 1);
    cuidl->setEnabled(leave != 1);
    (enctyp == 1 ? rmime : ruue)->setChecked(true);
    dsize->setText(QString::number(asize));
    dsize->setEnabled(enctyp == 0);
    dauto->setText(QString::number(timei));
    dlimit->setText(QString::number(hlimit));
    cad->setChecked(autodlv == 1);
    cxno->setChecked(xnoarc == 1);
    showFont();
    loadMimeTypes();
}

void Tgen::showFont() {
    fontname->setText(q(fontnam));
    fontstyle->setText(q(fontstl) + " " + QString::number(fontsiz));
    sample->setFont(settingsFont());
    QPalette pal = sample->palette();
    pal.setColor(QPalette::Window, colorFromSetting(backcol));
    pal.setColor(QPalette::WindowText, colorFromSetting(normcol));
    sample->setPalette(pal);
}

void Tgen::fontChosen(const QFont& font) {
    fontnam = s8(font.family());
    // The lists are drawn in the sizes the font dialog offers, whatever
    // font comes in.
    if (font.pointSize() > 0) fontsiz = fontSizeInRange(font.pointSize());
    fontstl = fontStyleLetters(font);
    showFont();
}

void Tgen::selectFont() {
    Tfontform dialog(this);
    if (dialog.ask(settingsFont()) == ui::kResultOk) fontChosen(dialog.font());
}

void Tgen::selectColours() {
    m_colours->setColours({backcol, normcol, unredcol, seltcol, markcol, highcol, readcol, headcol});
    if (m_colours->ask() != ui::kResultOk) return;
    const Tcol::Colours& c = m_colours->colours();
    backcol = c[Tcol::Background];
    normcol = c[Tcol::Normal];
    unredcol = c[Tcol::Unread];
    seltcol = c[Tcol::Selected];
    markcol = c[Tcol::Marked];
    highcol = c[Tcol::Highlighted];
    readcol = c[Tcol::Read];
    headcol = c[Tcol::Header];
    showFont();
}

void Tgen::okClicked() {
    ui::WaitCursor wait;
    // Every number is converted before anything is taken, so a bad one
    // leaves the settings and the file as they were.
    int size = 0, interval = 0, limit = 0, days = 0;
    try {
        size = omail::strictToInt(s8(dsize->text()));
        interval = omail::strictToInt(s8(dauto->text()));
        limit = omail::strictToInt(s8(dlimit->text()));
        days = omail::strictToInt(s8(dleavedays->text()));
    } catch (const omail::InvalidInteger& e) {
        ui::informationBox(this, QString::fromStdString(e.what()));
        return;
    }
    rname = s8(dname->text());
    email = s8(demail->text());
    reply = s8(dreply->text());
    org = s8(dorg->text());
    sigfile = s8(dsig->text());
    smtp = s8(dsmtp->text());
    pop = s8(dpop->text());
    nntp = s8(dnntp->text());
    user = s8(duser->text());
    pass = s8(dpass->text());
    timez = s8(dtime->currentText());
    takeConnections(days);
    asize = size;
    timei = interval;
    hlimit = limit;
    xnoarc = cxno->isChecked() ? 1 : 0;
    autodlv = cad->isChecked() ? 1 : 0;
    enctyp = rmime->isChecked() ? 1 : 0;
    save(m_ini);
    emit settingsApplied();
    saveMimeTypes();
    done(ui::kResultOk);
}

void Tgen::takeConnections(int days) {
    popsec = dpopsec->currentIndex();
    smtpsec = dsmtpsec->currentIndex();
    nntpsec = dnntpsec->currentIndex();
    smtpuser = s8(dsmtpuser->text());
    smtppass = s8(dsmtppass->text());
    newsuser = s8(dnewsuser->text());
    newspass = s8(dnewspass->text());
    leave = cleave->isChecked() ? 1 : 0;
    leavedays = days;
    uidl = cuidl->isChecked() ? 1 : 0;
    smtppipe = cpipe->isChecked() ? 1 : 0;
}

void Tgen::cancelClicked() {
    loadSettings();
    done(ui::kResultCancel);
}

void Tgen::reject() { cancelClicked(); }

void Tgen::loadMimeTypes() {
    mimelist->clear();
    platform::UniqueFile in = platform::openFile(m_ini.dataDirectory() + "/" + kMimeTypeFile, "rb");
    if (!in) return;
    std::string line;
    while (torvakit::lines::readLine(in.get(), line) != torvakit::lines::kEndOfFile)
        if (!line.empty()) mimelist->addItem(q(line));
}

bool Tgen::saveMimeTypes() const {
    const std::string path = platform::resolvePath(m_ini.dataDirectory() + "/" + kMimeTypeFile);
    const std::string temp = path + ".new";
    bool ok = false;
    if (platform::UniqueFile out = platform::openFile(temp, "wb")) {
        ok = true;
        for (int i = 0; i < mimelist->count(); ++i) {
            const std::string line = s8(mimelist->item(i)->text()) + "\r\n";
            ok = ok && std::fwrite(line.data(), 1, line.size(), out.get()) == line.size();
        }
        ok = ok && platform::syncFile(out.get());
    }
    ok = ok && platform::renameReplace(temp, path);
    if (!ok) platform::deleteFile(temp);
    return ok;
}

void Tgen::addMimeType() {
    Tmimeform form(this);
    if (form.ask("add new mime type", QString()) == ui::kResultOk) mimelist->addItem(form.entry());
}

void Tgen::editMimeType() {
    QListWidgetItem* item = mimelist->currentItem();
    if (!item) return;
    Tmimeform form(this);
    if (form.ask("edit mime type", item->text()) != ui::kResultOk) return;
    delete item;
    mimelist->addItem(form.entry());
}

Tfoptsform::Tfoptsform(const omail::IniFile& ini, QWidget* parent) : QDialog(parent), m_ini(ini) {
    setObjectName("foptsform");
    setWindowTitle("personal folder options (global)");
    load(m_ini, errorBox(parent));
    buildChecks();
}

void Tfoptsform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    crfrom->setChecked(rfrom == 1);
    crrecip->setChecked(rrecip == 1);
    csfrom->setChecked(sfrom == 1);
    csrecip->setChecked(srecip == 1);
    cpfrom->setChecked(pfrom == 1);
    cpgrp->setChecked(pgrp == 1);
}

void Tfoptsform::okClicked() {
    ui::WaitCursor wait;
    rfrom = crfrom->isChecked() ? 1 : 0;
    rrecip = crrecip->isChecked() ? 1 : 0;
    sfrom = csfrom->isChecked() ? 1 : 0;
    srecip = csrecip->isChecked() ? 1 : 0;
    pfrom = cpfrom->isChecked() ? 1 : 0;
    pgrp = cpgrp->isChecked() ? 1 : 0;
    save(m_ini);
    done(ui::kResultOk);
}

int Tfoptsform::ask() { return ui::execDialog(*this); }

QColor colorFromSetting(int value) {
    auto v = static_cast<unsigned>(value);
    return QColor(v & 0xff, (v >> 8) & 0xff, (v >> 16) & 0xff);
}

int settingFromColor(const QColor& c) { return c.red() | (c.green() << 8) | (c.blue() << 16); }
