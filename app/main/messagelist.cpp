#include "main/messagelist.h"

#include "store/torvakit.h"

namespace {

struct ColumnTitles {
    const char* mail;
    const char* news;
};
constexpr ColumnTitles kTitles[kListColumns] = {
    {" author", " author"}, {" recipient", " newsgroup"}, {" subject", " subject"}, {" date", " date"},
    {" size", " lines"},
};

}  // namespace

int ListColours::forStatus(char status) const {
    switch (status) {
    case 'U': return unredcol;
    case 'R': return readcol;
    case 'M': return markcol;
    case 'O': return headcol;
    case 'H': return highcol;
    case 'S': return seltcol;
    default: return normcol;
    }
}

QColor settingColour(int value) {
    auto v = static_cast<unsigned>(value);
    return QColor(v & 0xff, (v >> 8) & 0xff, (v >> 16) & 0xff);
}

MessageListModel::MessageListModel(QObject* parent) : QAbstractTableModel(parent) {}

int MessageListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return m_itemCount < 1 ? 1 : m_itemCount;
}

int MessageListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kListColumns; }

QVariant MessageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kListColumns)
        return {};
    return QString::fromLatin1(m_news ? kTitles[section].news : kTitles[section].mail);
}

void MessageListModel::showFolder(std::string indexPath, std::string listPath, int itemCount) {
    beginResetModel();
    m_indexPath = std::move(indexPath);
    m_listPath = std::move(listPath);
    m_itemCount = itemCount;
    m_cache = Row{};
    m_recordsRead = 0;
    endResetModel();
}

void MessageListModel::setNewsTitles(bool news) {
    if (news == m_news) return;
    m_news = news;
    emit headerDataChanged(Qt::Horizontal, 0, kListColumns - 1);
}

void MessageListModel::setColours(const ListColours& colours) {
    m_colours = colours;
    refresh();
}

void MessageListModel::refresh() {
    m_cache = Row{};
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, kListColumns - 1));
}

const MessageListModel::Row& MessageListModel::fetch(int row) const {
    if (m_cache.row == row) return m_cache;
    Row next;
    next.row = row;
    ++m_recordsRead;
    // A missing index or list leaves the texts empty.
    torvakit::ReadListItems(row, m_indexPath, m_listPath, next.status, next.author, next.recipient, next.subject,
                            next.date, next.size, next.hasBody);
    next.textColour = m_colours.forStatus(next.status.empty() ? '\0' : next.status[0]);
    m_cache = std::move(next);
    return m_cache;
}

QString MessageListModel::cellText(const Row& cached, int column) const {
    const std::string* field = nullptr;
    switch (column) {
    case 0: field = &cached.author; break;
    case 1: field = &cached.recipient; break;
    case 2: field = &cached.subject; break;
    case 3: field = &cached.date; break;
    default: field = &cached.size; break;
    }
    return QLatin1Char(' ') + QString::fromLocal8Bit(field->data(), qsizetype(field->size()));
}

QVariant MessageListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const bool empty = m_itemCount < 1;
    switch (role) {
    case Qt::DisplayRole:
        if (empty) return {};
        return cellText(fetch(index.row()), index.column());
    case Qt::ForegroundRole:
        if (empty) return {};
        return settingColour(fetch(index.row()).textColour);
    case Qt::BackgroundRole: {
        if (empty) return settingColour(m_colours.backcol);
        const Row& cached = fetch(index.row());
        bool selected = m_isSelected && m_isSelected(index.row());
        return settingColour(selected ? kWhite - cached.textColour : m_colours.backcol);
    }
    default: return {};
    }
}
