// The message list's model: one row per item of the shown folder, in the
// order of the folder's index file for the current sort type. Nothing is
// held but the last row read; each drawn row is read from the list file
// through the index when it is first asked for.
#pragma once

#include <QAbstractTableModel>
#include <QColor>

#include <functional>
#include <string>

inline constexpr int kListColumns = 5;
// The complement of a colour in each of its red, green and blue bytes.
inline constexpr int kWhite = 16777215;

// Row colours by status character, as stored in the settings.
struct ListColours {
    int backcol = 12632256;
    int normcol = 0;
    int unredcol = 0;
    int readcol = 255;
    int markcol = 4259584;
    int headcol = 16777215;
    int highcol = 8453888;
    int seltcol = 16776960;

    // The text colour of a status character; others get "normcol".
    int forStatus(char status) const;
};

class MessageListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit MessageListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Shows a folder: its index and list paths and its item count. An empty
    // folder still has one (blank) row.
    void showFolder(std::string indexPath, std::string listPath, int itemCount);
    // Column titles of a newsgroup (" newsgroup", " lines") or a mail folder.
    void setNewsTitles(bool news);
    bool newsTitles() const { return m_news; }
    void setColours(const ListColours& colours);
    // Whether a row is selected, for its complement colours.
    void setSelectionTest(std::function<bool(int)> test) { m_isSelected = std::move(test); }
    // Forgets the row read last and redraws every row.
    void refresh();

    int itemCount() const { return m_itemCount; }
    // How many list records were read since the folder was shown.
    long recordsRead() const { return m_recordsRead; }

private:
    struct Row {
        int row = -1;
        std::string status, author, recipient, subject, date, size;
        int32_t hasBody = 0;
        int textColour = 0;
    };
    const Row& fetch(int row) const;
    QString cellText(const Row& cached, int column) const;

    std::string m_indexPath;
    std::string m_listPath;
    int m_itemCount = 0;
    bool m_news = false;
    ListColours m_colours;
    std::function<bool(int)> m_isSelected;
    mutable Row m_cache;
    mutable long m_recordsRead = 0;
};

// A colour setting (red in the low byte) as a QColor.
QColor settingColour(int value);
