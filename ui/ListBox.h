#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QStringList>
#include <QStyledItemDelegate>

// The entries of a list box: their texts, in order. A view asks for what it shows, so a list of tens
// of thousands of entries costs a list of strings, not an item object for each.
class TListBoxItems final : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const QStringList& Texts() const { return texts_; }
    // Adds entries at the end, as one insertion.
    void Append(const QStringList& texts);
    void Clear();

private:
    QStringList texts_;
};

// Rows of a list box: one line of the list's font high and as wide as the list, the same for every
// entry, like the list boxes of the classic toolkit (no horizontal scroll bar; a name too long for
// the list is cut with an ellipsis). Nothing is measured per entry, so a list of tens of thousands
// of entries is laid out without laying out their texts.
class OneLineRows final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The classic toolkit's list box: unsorted entries of text, one of which may be selected, in
// one-line rows of one size. Rows are numbered from 0; -1 is no row.
class TListBox final : public QListView {
    Q_OBJECT
public:
    explicit TListBox(QWidget* parent = nullptr);

    int count() const;
    QString itemText(int row) const;
    const QStringList& itemTexts() const;
    void addItem(const QString& text);
    void addItems(const QStringList& texts);
    void clear();

    // The current row has the focus frame; Qt makes a row current on focus-in without selecting it.
    int currentRow() const;
    // Makes `row` current and selects it alone.
    void setCurrentRow(int row);
    // The selected row, or -1 when none is.
    int selectedRow() const;
    QRect visualItemRect(int row) const;
    void scrollToItem(int row);

signals:
    void currentRowChanged(int row);
    // A mouse button went down on the entry in `row`.
    void itemPressed(int row);

private:
    TListBoxItems* items_;
};
