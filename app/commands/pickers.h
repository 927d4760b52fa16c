// The small dialogs of the item commands: the list picker (Tmoveform) that
// chooses a personal folder, and the expiry dialog (Texpireform). Each is
// created once and keeps its last values.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QListWidget;
class QPushButton;

inline constexpr const char* kExpireCaption = "select expiry method";
// Expiry methods: the status character of the items to expire, or minus
// the number of days.
inline constexpr int kExpireRead = 'R';
inline constexpr int kExpireHighlighted = 'H';

class Tmoveform : public QDialog {
    Q_OBJECT
public:
    explicit Tmoveform(QWidget* parent = nullptr);

    // Lists the file's lines (sorted; empty when it is missing) with the
    // first selected; 1 and the chosen entry, or 2.
    int pick(const QString& caption, const std::string& listFile, int backcol, int normcol);
    QString result() const { return m_result; }

    QListWidget* listbox = nullptr;
    QPushButton* okbtn = nullptr;
    QPushButton* cancelbtn = nullptr;

private:
    void accept() override;
    QString m_result;
};

class Texpireform : public QDialog {
    Q_OBJECT
public:
    explicit Texpireform(QWidget* parent = nullptr);

    // 1 with method() set, or 2.
    int ask();
    int method() const { return m_method; }

    QPushButton* readbtn = nullptr;
    QPushButton* highbtn = nullptr;
    QPushButton* olderbtn = nullptr;
    QPushButton* cancelbtn = nullptr;
    QLineEdit* ddays = nullptr;

private:
    void olderClicked();
    int m_method = 0;
};
