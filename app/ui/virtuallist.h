// The virtual list control of the message list: a table whose model fetches
// each drawn row on demand, with a header whose sorted column (1 to 5, or -1
// for none) can be read, set and is reported when it changes, multi-selection
// that can be switched off and on, a focused row, and selected rows drawn in
// the colours the model gives (no separate selection colour).
#pragma once

#include <QStyledItemDelegate>
#include <QTableView>

#include <vector>

class VirtualList : public QTableView {
    Q_OBJECT
public:
    static constexpr int kNoSortedColumn = -1;

    explicit VirtualList(QWidget* parent = nullptr);

    // Sorted column, 1-based; kNoSortedColumn when none.
    int sortedColumn() const { return m_sortedColumn; }
    // Shows the indicator on the column and reports the change.
    void setSortedColumn(int column);

    // Selected rows in ascending order.
    std::vector<int> selectedRowList() const;
    int selectedCount() const;
    bool isRowSelected(int row) const;
    void selectOnly(int row);
    // The focused row (-1 none); setting it scrolls it into view.
    int focusedRow() const;
    void setFocusedRow(int row);
    // Switching multi-selection clears the selection.
    void setMultiSelect(bool on);
    // Height of each row; rows are never measured one by one.
    void setRowHeight(int pixels);
    // Typing does not search the rows: that would read every record of the
    // folder. Letters are commands of the list (find, find again, exit).
    void keyboardSearch(const QString&) override {}

signals:
    void sortedColumnChanged(int column);
    // After the list handled a key: the key code, and the typed text if any.
    void keyDown(int key);
    void keyPressed(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onIndicatorChanged(int section, Qt::SortOrder order);
    void showIndicator();

    int m_sortedColumn = kNoSortedColumn;
    bool m_settingIndicator = false;
};

// Draws a selected cell with the background and text colours of the model
// instead of the style's selection colours.
class PlainSelectionDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
