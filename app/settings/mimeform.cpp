#include "settings/mimeform.h"

#include "ui/dialogs.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

Tmimeform::Tmimeform(QWidget* parent) : QDialog(parent) {
    setObjectName("mimeform");
    auto* form = new QFormLayout(this);
    dtype = new QLineEdit(this);
    dtype->setObjectName("dtype");
    dext = new QLineEdit(this);
    dext->setObjectName("dext");
    form->addRow("mime type", dtype);
    form->addRow("file extension", dext);
    form->addRow(ui::okCancelRow(this, okbtn, cancelbtn));
    connect(okbtn, &QPushButton::clicked, this, &Tmimeform::okClicked);
}

int Tmimeform::ask(const QString& caption, const QString& entry) {
    setWindowTitle(caption);
    m_entry = entry;
    const QString type = entry.section(' ', 0, 0);
    dtype->setText(type);
    dext->setText(entry.section(' ', 1));
    dtype->setFocus();
    return exec() == ui::kResultOk ? ui::kResultOk : ui::kResultCancel;
}

void Tmimeform::okClicked() {
    // Single spaces between the fields: the table's lines are split at them.
    const QString type = dtype->text().simplified().remove(' ');
    const QString extensions = dext->text().simplified();
    if (type.isEmpty() || extensions.isEmpty()) {
        ui::informationBox(this, "missing field");
        return;
    }
    m_entry = type + " " + extensions;
    done(ui::kResultOk);
}
