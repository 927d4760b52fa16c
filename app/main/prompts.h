// The small modal prompts: the one-line text entry (Tenterstringform) and
// the yes/no question (Tqueryform). Each is created once and reused; the
// caller sets the caption to the prompt.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

class Tenterstringform : public QDialog {
    Q_OBJECT
public:
    explicit Tenterstringform(QWidget* parent = nullptr);

    // 1 when ok was chosen with a non-empty entry, 2 otherwise. The entry is
    // emptied and focused each time the dialog is shown.
    int ask(const QString& caption, bool hideCharacters = false);
    QString text() const;

    QLineEdit* edit1 = nullptr;
    QPushButton* okbtn = nullptr;
    QPushButton* cancelbtn = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

class Tqueryform : public QDialog {
    Q_OBJECT
public:
    explicit Tqueryform(QWidget* parent = nullptr);

    // 1 for yes, 2 for no; "yes" has the focus.
    int ask(const QString& caption);

    QPushButton* yesbtn = nullptr;
    QPushButton* nobtn = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};
