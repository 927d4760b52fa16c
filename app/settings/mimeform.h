// One line of the MIME type table "mimetype.txt": a content type followed
// by one or more file extensions, all separated by single spaces.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

class Tmimeform : public QDialog {
    Q_OBJECT
public:
    explicit Tmimeform(QWidget* parent = nullptr);

    // Shows the entry under the caption; 1 with entry() holding the new
    // line, or 2 leaving it unchanged.
    int ask(const QString& caption, const QString& entry);
    QString entry() const { return m_entry; }

    QLineEdit *dtype = nullptr, *dext = nullptr;
    QPushButton *okbtn = nullptr, *cancelbtn = nullptr;

private:
    void okClicked();
    QString m_entry;
};
