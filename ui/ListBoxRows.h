#pragma once

#include <QListWidget>
#include <QStyledItemDelegate>

// Rows of a list box: one line of the list's font high and as wide as the list, the same for every
// entry, like the list boxes of the classic toolkit (no horizontal scroll bar; a name too long for
// the list is cut with an ellipsis). Nothing is measured per entry, so a list of tens of thousands
// of entries is laid out without laying out their texts.
class OneLineRows final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// Gives `list` one-line rows of one size.
void UseOneLineRows(QListWidget& list);
