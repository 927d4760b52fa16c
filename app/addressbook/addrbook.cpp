#include "addressbook/addrbook.h"

#include "ui/dialogs.h"

#include <QFile>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include <algorithm>

namespace addressbook {

QString makeLine(const QString& name, const QString& address) {
    if (name.isEmpty() || address.isEmpty()) return {};
    return name.left(kMaxName).leftJustified(kNameColumn, ' ') + address;
}

void splitLine(const QString& line, QString& name, QString& address) {
    if (line.size() < kNameColumn) {
        // Not in the book's own layout: the last blank separates the parts.
        const QString text = line.trimmed();
        const qsizetype blank = text.lastIndexOf(' ');
        if (blank >= 0) {
            name = text.left(blank).trimmed();
            address = text.mid(blank + 1);
        } else if (text.contains('@')) {
            name.clear();
            address = text;
        } else {
            name = text;
            address.clear();
        }
        return;
    }
    qsizetype i = kMaxName - 1;
    while (i >= 0 && line[i] == ' ') --i;
    name = line.left(i + 1);
    ++i;
    while (i < line.size() && line[i] == ' ') ++i;
    address = line.mid(i);
}

bool readBook(const QString& path, QStringList& lines) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QString text = QString::fromUtf8(file.readAll());
    lines.clear();
    QString current;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(current);
            current.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            current += c;
        }
    }
    if (!current.isEmpty()) lines.push_back(current);
    return true;
}

bool writeBook(const QString& path, const QStringList& lines) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    QByteArray bytes;
    for (const QString& line : lines) bytes += line.toUtf8() + "\r\n";
    return file.write(bytes) == bytes.size();
}

}  // namespace addressbook

using namespace addressbook;

Taddrbookform::Taddrbookform(QString dataDirectory, QWidget* parent) : QDialog(parent), m_dataDir(std::move(dataDirectory)) {
    setObjectName("addrbookform");
    setWindowTitle("address book");
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    addrlist = new QListWidget(this);
    addrlist->setObjectName("addrlist");
    // The name column lines up only in a fixed-pitch font.
    addrlist->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(addrlist, 1);

    auto* fields = new QGridLayout;
    realdata = new QLineEdit(this);
    realdata->setObjectName("realdata");
    realdata->setMaxLength(kMaxName);
    emaildata = new QLineEdit(this);
    emaildata->setObjectName("emaildata");
    fields->addWidget(new QLabel("real name", this), 0, 0);
    fields->addWidget(realdata, 0, 1);
    fields->addWidget(new QLabel("email address", this), 1, 0);
    fields->addWidget(emaildata, 1, 1);
    layout->addLayout(fields);

    auto* buttons = new QHBoxLayout;
    auto button = [this, buttons](const char* name, const char* caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    addbtn = button("addbtn", "add");
    removebtn = button("removebtn", "remove");
    modifybtn = button("modifybtn", "modify");
    sortbtn = button("sortbtn", "sort");
    clearbtn = button("clearbtn", "clear");
    okbtn = button("okbtn", "ok");
    cancelbtn = button("cancelbtn", "cancel");
    addbtn->setDefault(true);
    layout->addLayout(buttons);

    connect(addbtn, &QPushButton::clicked, this, &Taddrbookform::addbtnClick);
    connect(removebtn, &QPushButton::clicked, this, &Taddrbookform::removebtnClick);
    connect(modifybtn, &QPushButton::clicked, this, &Taddrbookform::modifybtnClick);
    connect(sortbtn, &QPushButton::clicked, this, &Taddrbookform::sortbtnClick);
    connect(clearbtn, &QPushButton::clicked, this, &Taddrbookform::clearbtnClick);
    connect(okbtn, &QPushButton::clicked, this, &Taddrbookform::okbtnClick);
    connect(cancelbtn, &QPushButton::clicked, this, &Taddrbookform::cancelbtnClick);
    connect(addrlist, &QListWidget::itemClicked, this, &Taddrbookform::entryClicked);
    connect(addrlist, &QListWidget::itemDoubleClicked, this, &Taddrbookform::entryDoubleClicked);

    setFixedWidth(kWidth);
    setMinimumHeight(kMinHeight);
    setMaximumHeight(kMaxHeight);
    resize(kWidth, kMaximisedHeight);
}

void Taddrbookform::setPrefill(const QString& name, const QString& address) {
    m_prefillName = name.left(kMaxName);
    m_prefillAddress = address;
}

int Taddrbookform::showModal() {
    m_result.clear();
    return exec() == QDialog::Accepted ? ui::kResultOk : ui::kResultCancel;
}

QStringList Taddrbookform::entries() const {
    QStringList lines;
    for (int i = 0; i < addrlist->count(); ++i) lines.push_back(addrlist->item(i)->text());
    return lines;
}

QString Taddrbookform::bookPath() const { return m_dataDir + "/" + kBookFile; }

void Taddrbookform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    QStringList lines;
    if (readBook(bookPath(), lines)) {
        addrlist->clear();
        addrlist->addItems(lines);
    }
    emaildata->setText(m_prefillAddress);
    realdata->setText(m_prefillName);
    addbtn->setFocus();
}

// Maximised, the book keeps its width and takes a fixed place.
void Taddrbookform::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMaximized))
        setGeometry(kWidth, kMaximisedHeight, kWidth, kMaximisedHeight);
}

void Taddrbookform::entryClicked() {
    QListWidgetItem* item = addrlist->currentItem();
    if (!item) return;
    QString name, address;
    splitLine(item->text(), name, address);
    realdata->setText(name);
    emaildata->setText(address);
}

void Taddrbookform::entryDoubleClicked() {
    entryClicked();
    if (m_picking != 1) return;
    if (!pickFields()) return;
    saveBook();
    accept();
}

bool Taddrbookform::pickFields() {
    if (realdata->text().isEmpty() || emaildata->text().isEmpty()) return false;
    m_result = realdata->text() + " <" + emaildata->text() + ">";
    return true;
}

void Taddrbookform::saveBook() { writeBook(bookPath(), entries()); }

void Taddrbookform::addbtnClick() {
    const QString line = makeLine(realdata->text(), emaildata->text());
    if (line.isEmpty()) return;
    addrlist->addItem(line);
    addrlist->setCurrentRow(addrlist->count() - 1);
}

void Taddrbookform::removebtnClick() {
    const int row = addrlist->currentRow();
    if (row < 0) return;
    delete addrlist->takeItem(row);
    if (addrlist->count() > 0) addrlist->setCurrentRow(std::min(row, addrlist->count() - 1));
}

void Taddrbookform::modifybtnClick() {
    const int row = addrlist->currentRow();
    const QString line = makeLine(realdata->text(), emaildata->text());
    if (row < 0 || line.isEmpty()) return;
    delete addrlist->takeItem(row);
    addrlist->addItem(line);
    addrlist->setCurrentRow(row);
}

void Taddrbookform::sortbtnClick() {
    QStringList lines = entries();
    std::stable_sort(lines.begin(), lines.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    addrlist->clear();
    addrlist->addItems(lines);
    addrlist->setCurrentRow(-1);
}

void Taddrbookform::clearbtnClick() {
    realdata->clear();
    emaildata->clear();
    m_result.clear();
    addrlist->setCurrentRow(-1);
    addrlist->clearSelection();
}

void Taddrbookform::okbtnClick() {
    saveBook();
    if (m_picking == 1 && pickFields()) accept();
    else reject();
}

void Taddrbookform::cancelbtnClick() { reject(); }
