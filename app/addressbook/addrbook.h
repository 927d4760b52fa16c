// The address book: pairs of a full name and an e-mail address in OMAIL.ALA,
// one line each, the name padded with spaces to 25 characters so that the
// address starts at character 26. One dialog serves as the editor (from the
// main window, pre-filled with the current item's author) and as the picker
// of the compose window, which gets "name <address>".
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace addressbook {

inline constexpr const char* kBookFile = "OMAIL.ALA";
inline constexpr int kNameColumn = 25;  // the address starts after it
inline constexpr int kMaxName = 24;
inline constexpr int kWidth = 428;
inline constexpr int kMinHeight = 200;
inline constexpr int kMaxHeight = 2048;
inline constexpr int kMaximisedHeight = 300;

// The line of an entry, or an empty string when either part is empty. A
// longer name is cut to 24 characters, so the address keeps its column.
QString makeLine(const QString& name, const QString& address);
// The name and address of a line; a hand-edited line shorter than the name
// column is split at its last blank, so nothing of it is lost.
void splitLine(const QString& line, QString& name, QString& address);
// The lines of the book (CR LF, LF or CR ends); false when there is no file.
bool readBook(const QString& path, QStringList& lines);
// Every line ends in CR LF. False when the file cannot be written.
bool writeBook(const QString& path, const QStringList& lines);

}  // namespace addressbook

class Taddrbookform : public QDialog {
    Q_OBJECT
public:
    // dataDirectory holds OMAIL.ALA.
    explicit Taddrbookform(QString dataDirectory, QWidget* parent = nullptr);

    void setPrefill(const QString& name, const QString& address);
    // 1 from the compose window, 0 from the main window.
    void setPickingMode(int mode) { m_picking = mode; }
    // 1 when an address was picked, 2 otherwise.
    int showModal();
    // "name <address>" after a pick.
    QString result() const { return m_result; }
    QStringList entries() const;

    QListWidget* addrlist = nullptr;
    QLineEdit* realdata = nullptr;
    QLineEdit* emaildata = nullptr;
    QPushButton* addbtn = nullptr;
    QPushButton* removebtn = nullptr;
    QPushButton* modifybtn = nullptr;
    QPushButton* sortbtn = nullptr;
    QPushButton* clearbtn = nullptr;
    QPushButton* okbtn = nullptr;
    QPushButton* cancelbtn = nullptr;

public slots:
    void addbtnClick();
    void removebtnClick();
    void modifybtnClick();
    void sortbtnClick();
    void clearbtnClick();
    void okbtnClick();
    void cancelbtnClick();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void entryClicked();
    void entryDoubleClicked();
    QString bookPath() const;
    void saveBook();
    bool pickFields();

    QString m_dataDir;
    QString m_prefillName;
    QString m_prefillAddress;
    QString m_result;
    int m_picking = 0;
};
