#include "ui/virtuallist.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

namespace {
constexpr int kColumnCount = 5;
}

VirtualList::VirtualList(QWidget* parent) : QTableView(parent) {
    verticalHeader()->hide();
    // A fixed row height: the view never asks a row for its size, so a
    // folder of any size opens without reading its rows.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    connect(horizontalHeader(), &QHeaderView::sortIndicatorChanged, this, &VirtualList::onIndicatorChanged);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setShowGrid(false);
    setWordWrap(false);
    setItemDelegate(new PlainSelectionDelegate(this));
}

void VirtualList::setRowHeight(int pixels) { verticalHeader()->setDefaultSectionSize(pixels); }

void VirtualList::showIndicator() {
    m_settingIndicator = true;
    horizontalHeader()->setSortIndicator(m_sortedColumn == kNoSortedColumn ? -1 : m_sortedColumn - 1,
                                         Qt::AscendingOrder);
    m_settingIndicator = false;
}

void VirtualList::setSortedColumn(int column) {
    if (column < 1 || column > kColumnCount) column = kNoSortedColumn;
    bool changed = column != m_sortedColumn;
    m_sortedColumn = column;
    showIndicator();
    if (changed) emit sortedColumnChanged(column);
}

void VirtualList::onIndicatorChanged(int section, Qt::SortOrder) {
    if (m_settingIndicator) return;
    // Each column has one order; a second click on it changes nothing.
    setSortedColumn(section < 0 ? kNoSortedColumn : section + 1);
}

void VirtualList::keyPressEvent(QKeyEvent* event) {
    if (event->modifiers() == Qt::ShiftModifier &&
        (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)) {
        int column = m_sortedColumn;
        if (event->key() == Qt::Key_Right) column = column == kNoSortedColumn ? 1 : std::min(column + 1, kColumnCount);
        else column = column == kNoSortedColumn ? kColumnCount : std::max(column - 1, 1);
        setSortedColumn(column);
        event->accept();
        return;
    }
    // The space bar is no selection key here; the selection stays.
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) event->accept();
    else QTableView::keyPressEvent(event);
    emit keyDown(event->key());
    if (!event->text().isEmpty()) emit keyPressed(event->text());
}

std::vector<int> VirtualList::selectedRowList() const {
    std::vector<int> rows;
    if (!selectionModel() || !model()) return rows;
    const int columns = model()->columnCount();
    if (columns <= 0) return rows;
    // QItemSelectionModel::selectedRows tests every row against every range,
    // which takes seconds for 10,000 scattered rows. The ranges are read once
    // instead: a row counts when its ranges cover all its columns.
    std::vector<std::pair<int, std::pair<int, int>>> spans;  // row, first and last column
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        if (range.parent().isValid()) continue;
        for (int row = range.top(); row <= range.bottom(); ++row)
            spans.push_back({row, {range.left(), range.right()}});
    }
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 0; i < spans.size();) {
        const int row = spans[i].first;
        int covered = 0;  // columns 0..covered-1 are selected
        for (; i < spans.size() && spans[i].first == row; ++i)
            if (spans[i].second.first <= covered) covered = std::max(covered, spans[i].second.second + 1);
        if (covered >= columns) rows.push_back(row);
    }
    return rows;
}

int VirtualList::selectedCount() const { return static_cast<int>(selectedRowList().size()); }

bool VirtualList::isRowSelected(int row) const {
    return selectionModel() && selectionModel()->isRowSelected(row, QModelIndex());
}

void VirtualList::selectOnly(int row) {
    if (!model() || row < 0 || row >= model()->rowCount()) return;
    selectionModel()->select(model()->index(row, 0),
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int VirtualList::focusedRow() const { return currentIndex().isValid() ? currentIndex().row() : -1; }

void VirtualList::setFocusedRow(int row) {
    if (!model() || row < 0 || row >= model()->rowCount()) return;
    QModelIndex index = model()->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    scrollTo(index);
}

void VirtualList::setMultiSelect(bool on) {
    clearSelection();
    setSelectionMode(on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

void PlainSelectionDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    // The model already gives a selected row its own colours; neither the
    // selection, the pointer nor the style's focus fill tints them.
    option->state &= ~(QStyle::State_Selected | QStyle::State_MouseOver | QStyle::State_HasFocus);
}

void PlainSelectionDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    if (!(option.state & QStyle::State_HasFocus)) return;
    // The focused cell gets a dotted frame in its own text colour.
    QColor frame = index.data(Qt::ForegroundRole).value<QColor>();
    painter->save();
    painter->setPen(QPen(frame, 1, Qt::DotLine));
    painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    painter->restore();
}
