#include "viewer/mimeform.h"

#include "ui/dialogs.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

Tmimeform::Tmimeform(QWidget* parent) : QDialog(parent) {
    setObjectName("mimeform");
    auto* form = new QFormLayout(this);
    dtype = new QLineEdit(this);
    dtype->setObjectName("dtype");
    dext = new QLineEdit(this);
    dext->setObjectName("dext");
    form->addRow("mime type", dtype);
    form->addRow("file extension", dext);
    auto* buttons = new QHBoxLayout;
    okbtn = new QPushButton("ok", this);
    okbtn->setObjectName("okbtn");
    okbtn->setDefault(true);
    cancelbtn = new QPushButton("cancel", this);
    cancelbtn->setObjectName("cancelbtn");
    buttons->addWidget(okbtn);
    buttons->addWidget(cancelbtn);
    form->addRow(buttons);
    connect(okbtn, &QPushButton::clicked, this, &Tmimeform::okbtnClick);
    connect(cancelbtn, &QPushButton::clicked, this, [this] { done(ui::kResultCancel); });
}

void Tmimeform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (editing) {
        const qsizetype space = entry.indexOf(' ');
        dtype->setText(space < 0 ? entry : entry.left(space));
        dext->setText(space < 0 ? QString() : entry.mid(space + 1));
    } else {
        dtype->clear();
        dext->clear();
    }
    dtype->setFocus();
    dtype->selectAll();
}

void Tmimeform::okbtnClick() {
    if (dtype->text().isEmpty() || dext->text().isEmpty()) {
        ui::informationBox(this, kMissingField);
        return;
    }
    entry = dtype->text() + ' ' + dext->text();
    done(ui::kResultOk);
}
