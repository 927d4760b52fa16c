// The item header dialog: one plain-text pane over a file. Mode 0 shows a
// header read-only, mode 1 edits an outbox item's header, mode 2 the
// signature file, mode 3 an outbox item's body.
#pragma once

#include "settings/settings.h"

#include <QDialog>
#include <QString>

class QPlainTextEdit;
class QPushButton;

class Theadform : public QDialog {
    Q_OBJECT
public:
    enum Mode { ViewHeader = 0, EditHeader = 1, EditSignature = 2, EditBody = 3 };

    Theadform(const omail::GeneralSettings& settings, QWidget* parent = nullptr);

    // Set before exec(); the mode is kept for the next opening.
    int mode = ViewHeader;
    QString path;

    // exec(): 1 when the edited text was saved, 2 otherwise.
    QPlainTextEdit* memo = nullptr;
    QPushButton* okbtn = nullptr;
    QPushButton* cancelbtn = nullptr;

public slots:
    void okbtnClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    const omail::GeneralSettings& m_settings;
    bool m_utf8 = true;  // the file read was valid UTF-8
};
