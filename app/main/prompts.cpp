#include "main/prompts.h"

#include "ui/dialogs.h"

#include <QHBoxLayout>
#include <QProxyStyle>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kPromptWidth = 320;
constexpr int kPasswordCharacter = '*';

// Hidden entries show '*' for each character, whatever the style's own
// password character is.
class StarPasswordStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return kPasswordCharacter;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};
}  // namespace

Tenterstringform::Tenterstringform(QWidget* parent) : QDialog(parent) {
    setObjectName("enterstringform");
    setMinimumWidth(kPromptWidth);
    auto* layout = new QVBoxLayout(this);
    edit1 = new QLineEdit(this);
    edit1->setObjectName("edit1");
    auto* style = new StarPasswordStyle;
    style->setParent(this);
    edit1->setStyle(style);
    layout->addWidget(edit1);
    layout->addLayout(ui::okCancelRow(this, okbtn, cancelbtn));
    connect(okbtn, &QPushButton::clicked, this,
            [this] { done(edit1->text().isEmpty() ? ui::kResultCancel : ui::kResultOk); });
}

void Tenterstringform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    edit1->clear();
    edit1->setFocus();
}

QString Tenterstringform::text() const { return edit1->text(); }

int Tenterstringform::ask(const QString& caption, bool hideCharacters) {
    if (const auto& hook = ui::entryHook()) {
        QString entered;
        int answer = hook(caption, entered);
        edit1->setText(entered);
        return answer == ui::kResultOk && !entered.isEmpty() ? ui::kResultOk : ui::kResultCancel;
    }
    setWindowTitle(caption);
    edit1->setEchoMode(hideCharacters ? QLineEdit::Password : QLineEdit::Normal);
    int result = exec();
    // Closing by the window frame counts as cancel.
    if (result != ui::kResultOk) result = ui::kResultCancel;
    // The next caller gets the plain field back.
    edit1->setEchoMode(QLineEdit::Normal);
    return result;
}

Tqueryform::Tqueryform(QWidget* parent) : QDialog(parent) {
    setObjectName("queryform");
    setMinimumWidth(kPromptWidth);
    auto* buttons = new QHBoxLayout(this);
    yesbtn = new QPushButton("yes", this);
    yesbtn->setObjectName("yesbtn");
    yesbtn->setDefault(true);
    nobtn = new QPushButton("no", this);
    nobtn->setObjectName("nobtn");
    buttons->addStretch();
    buttons->addWidget(yesbtn);
    buttons->addWidget(nobtn);
    buttons->addStretch();
    connect(yesbtn, &QPushButton::clicked, this, [this] { done(ui::kResultOk); });
    connect(nobtn, &QPushButton::clicked, this, [this] { done(ui::kResultCancel); });
}

void Tqueryform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    yesbtn->setFocus();
}

int Tqueryform::ask(const QString& caption) {
    if (const auto& hook = ui::questionHook()) return hook(caption);
    setWindowTitle(caption);
    return exec() == ui::kResultOk ? ui::kResultOk : ui::kResultCancel;
}
