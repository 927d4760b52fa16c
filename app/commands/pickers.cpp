#include "commands/pickers.h"

#include "main/messagelist.h"
#include "platform/fsys.h"
#include "settings/settings.h"
#include "store/lines.h"
#include "ui/dialogs.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr const char* kInitialDays = "7";
constexpr int kPickerWidth = 220;
constexpr int kPickerHeight = 260;
}  // namespace

Tmoveform::Tmoveform(QWidget* parent) : QDialog(parent) {
    setObjectName("moveform");
    resize(kPickerWidth, kPickerHeight);
    auto* layout = new QVBoxLayout(this);
    listbox = new QListWidget(this);
    listbox->setObjectName("listbox");
    listbox->setSortingEnabled(true);
    listbox->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(listbox);
    layout->addLayout(ui::okCancelRow(this, okbtn, cancelbtn));
    connect(okbtn, &QPushButton::clicked, this, &Tmoveform::accept);
    connect(listbox, &QListWidget::itemDoubleClicked, this, &Tmoveform::accept);
}

void Tmoveform::accept() {
    QListWidgetItem* item = listbox->currentItem();
    m_result = item ? item->text() : QString();
    done(item ? ui::kResultOk : ui::kResultCancel);
}

int Tmoveform::pick(const QString& caption, const std::string& listFile, int backcol, int normcol) {
    setWindowTitle(caption);
    listbox->clear();
    if (platform::UniqueFile in = platform::openFile(listFile, "rb")) {
        std::string line;
        while (torvakit::lines::readLine(in.get(), line) != torvakit::lines::kEndOfFile)
            if (!line.empty()) listbox->addItem(QString::fromLocal8Bit(line.data(), qsizetype(line.size())));
    }
    if (listbox->count() > 0) listbox->setCurrentRow(0);
    QPalette pal = listbox->palette();
    pal.setColor(QPalette::Base, settingColour(backcol));
    pal.setColor(QPalette::Text, settingColour(normcol));
    listbox->setPalette(pal);
    listbox->setFocus();
    return ui::execDialog(*this);
}

Texpireform::Texpireform(QWidget* parent) : QDialog(parent) {
    setObjectName("expireform");
    setWindowTitle(kExpireCaption);
    auto* grid = new QGridLayout(this);
    readbtn = new QPushButton("expire read items", this);
    readbtn->setObjectName("readbtn");
    highbtn = new QPushButton("expire highlighted items", this);
    highbtn->setObjectName("highbtn");
    olderbtn = new QPushButton("expire items older than...", this);
    olderbtn->setObjectName("olderbtn");
    olderbtn->setDefault(true);
    ddays = new QLineEdit(kInitialDays, this);
    ddays->setObjectName("ddays");
    cancelbtn = new QPushButton("cancel", this);
    cancelbtn->setObjectName("cancelbtn");
    grid->addWidget(readbtn, 0, 0);
    grid->addWidget(highbtn, 1, 0);
    grid->addWidget(olderbtn, 2, 0);
    grid->addWidget(ddays, 2, 1);
    grid->addWidget(new QLabel("days", this), 2, 2);
    grid->addWidget(cancelbtn, 3, 0);
    connect(readbtn, &QPushButton::clicked, this, [this] {
        m_method = kExpireRead;
        done(ui::kResultOk);
    });
    connect(highbtn, &QPushButton::clicked, this, [this] {
        m_method = kExpireHighlighted;
        done(ui::kResultOk);
    });
    connect(olderbtn, &QPushButton::clicked, this, &Texpireform::olderClicked);
    connect(cancelbtn, &QPushButton::clicked, this, [this] { done(ui::kResultCancel); });
}

void Texpireform::olderClicked() {
    int days = 0;
    try {
        days = omail::strictToInt(ddays->text().toStdString());
    } catch (const omail::InvalidInteger& e) {
        ui::informationBox(this, QString::fromStdString(e.what()));
        return;  // the dialog stays open
    }
    if (days < 1) {
        done(ui::kResultCancel);
        return;
    }
    m_method = -days;
    done(ui::kResultOk);
}

int Texpireform::ask() { return ui::execDialog(*this); }
