// Editing one line of the MIME type table: a type, a space, then one or
// more extensions separated by spaces.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

inline constexpr const char* kMissingField = "missing field";

class Tmimeform : public QDialog {
    Q_OBJECT
public:
    explicit Tmimeform(QWidget* parent = nullptr);

    // The line edited (edit true) or added (edit false); on ok it holds the
    // new line. exec() returns 1 for ok, 2 for cancel.
    QString entry;
    bool editing = false;

    QLineEdit* dtype = nullptr;
    QLineEdit* dext = nullptr;
    QPushButton* okbtn = nullptr;
    QPushButton* cancelbtn = nullptr;

public slots:
    void okbtnClick();

protected:
    void showEvent(QShowEvent* event) override;
};
