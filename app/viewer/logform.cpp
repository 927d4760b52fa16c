#include "viewer/logform.h"

#include "platform/fsys.h"
#include "settings/gen.h"
#include "settings/geometry.h"
#include "ui/dialogs.h"
#include "ui/launching.h"
#include "ui/savedialog.h"
#include "ui/waitcursor.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kLogHeight = 480;
constexpr int kColonsBeforeName = 3;
}  // namespace

Tlogform::Tlogform(std::string dataDir, const omail::GeneralSettings& settings, QWidget* parent)
    : QDialog(parent), m_dataDir(std::move(dataDir)), m_settings(settings), m_ini(m_dataDir),
      m_saveDir(QString::fromStdString(m_dataDir)) {
    setObjectName("logform");
    setWindowTitle("decode log - orrindel mail");
    auto* layout = new QVBoxLayout(this);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(new QLabel("path", this));
    pathlabel = new QLabel(QString::fromStdString(m_dataDir) + "/" + kDecodeFolder, this);
    pathlabel->setObjectName("pathlabel");
    pathRow->addWidget(pathlabel, 1);
    layout->addLayout(pathRow);
    logbox = new QListWidget(this);
    logbox->setObjectName("logbox");
    layout->addWidget(logbox, 1);
    auto* buttons = new QHBoxLayout;
    auto button = [&](QPushButton*& b, const char* name, const char* caption) {
        b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        buttons->addWidget(b);
    };
    button(launchbtn, "launchbtn", "launch");
    button(resetbtn, "resetbtn", "reset");
    button(Button1, "Button1", "save as");
    button(okbtn, "okbtn", "exit");
    launchbtn->setDefault(true);
    layout->addLayout(buttons);
    connect(launchbtn, &QPushButton::clicked, this, &Tlogform::launchbtnClick);
    connect(resetbtn, &QPushButton::clicked, this, &Tlogform::resetbtnClick);
    connect(Button1, &QPushButton::clicked, this, &Tlogform::Button1Click);
    connect(okbtn, &QPushButton::clicked, this, &Tlogform::okbtnClick);
    connect(logbox, &QListWidget::itemDoubleClicked, this, &Tlogform::launchbtnClick);
    resize(omail::kDecodeLogWidth, kLogHeight);
    omail::restoreWindowPlace(this, m_ini, 'l', omail::kDecodeLogWidth, kLogHeight);
}

Tlogform::~Tlogform() { omail::saveWindowPlace(this, m_ini, 'l'); }

std::string Tlogform::decodeFolder(const std::string& dataDir) {
    std::string folder = platform::resolvePath(dataDir + "/" + kDecodeFolder);
    if (!platform::directoryExists(folder)) platform::createDirectory(folder);
    return folder + "/";
}

QString Tlogform::logPath() const {
    return QString::fromStdString(platform::resolvePath(m_dataDir + "/" + kDecodeFolder + "/" + kDecodeLogName));
}

QString Tlogform::fileNameOfLine(const QString& line) {
    qsizetype at = -1;
    for (int i = 0; i < kColonsBeforeName; ++i) {
        at = line.indexOf(':', at + 1);
        if (at < 0) return {};
    }
    return line.mid(at + 2);
}

QString Tlogform::pathOfLine(const QString& line) const {
    const QString name = fileNameOfLine(line);
    // The decoders never put a separator in a name: a line that has one
    // (an edited log) would lead outside the decode folder.
    if (name.isEmpty() || name.contains('/') || name == "." || name == "..") return {};
    return QString::fromStdString(platform::resolvePath(m_dataDir + "/" + kDecodeFolder)) + "/" + name;
}

void Tlogform::loadLog() {
    QFile log(logPath());
    if (!log.open(QIODevice::ReadOnly)) return;  // the list keeps what it had
    logbox->clear();
    for (QByteArray line : log.readAll().split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        if (!line.isEmpty()) logbox->addItem(QString::fromUtf8(line));
    }
    if (logbox->count() > 0) logbox->setCurrentRow(0);
}

QString Tlogform::selectedPath() const {
    QListWidgetItem* item = logbox->currentItem();
    return item ? pathOfLine(item->text()) : QString();
}

void Tlogform::showEvent(QShowEvent* event) {
    ui::WaitCursor wait;
    QPalette p = logbox->palette();
    p.setColor(QPalette::Base, colorFromSetting(m_settings.backcol));
    p.setColor(QPalette::Text, colorFromSetting(m_settings.normcol));
    logbox->setPalette(p);
    loadLog();
    if (m_caller) m_caller->hide();
    logbox->setFocus();
    QDialog::showEvent(event);
}

void Tlogform::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (m_caller) m_caller->show();
}

void Tlogform::launchNewest() {
    loadLog();
    launchbtnClick();
}

void Tlogform::launchbtnClick() {
    const QString path = selectedPath();
    if (path.isEmpty()) return;
    if (!QFileInfo(path).isFile()) {
        ui::informationBox(this, kFileNotFound);
        return;
    }
    switch (ui::launchFile(path)) {
    case ui::LaunchResult::Started: break;
    case ui::LaunchResult::NoApplication: ui::informationBox(this, kNoApplication); break;
    case ui::LaunchResult::Failed: ui::informationBox(this, kLaunchFailed); break;
    }
}

void Tlogform::Button1Click() {
    const QString path = selectedPath();
    if (path.isEmpty()) return;
    if (!QFileInfo(path).isFile()) {
        ui::informationBox(this, kFileNotFound);
        return;
    }
    const QString target = ui::saveFileName(this, "save as", m_saveDir, QFileInfo(path).fileName(), "all files (*)");
    if (target.isEmpty()) return;
    ui::WaitCursor wait;
    if (!platform::copyFileReplace(path.toStdString(), target.toStdString())) ui::informationBox(this, kSaveAsFailed);
    m_saveDir = QFileInfo(target).absolutePath();
}

void Tlogform::resetbtnClick() {
    QFile::remove(logPath());
    logbox->clear();
}
