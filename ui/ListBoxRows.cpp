#include "ui/ListBoxRows.h"

#include <QApplication>
#include <QStyle>

QSize OneLineRows::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem sample = option;
    initStyleOption(&sample, index);
    // A line that holds both scripts of the names, so no entry's text is taller than its row.
    sample.text = QStringLiteral("频道Ag");
    const QWidget* widget = option.widget;
    const QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    // The width is left to the view, which makes each row as wide as the list.
    return QSize(1, style->sizeFromContents(QStyle::CT_ItemViewItem, &sample, QSize(), widget).height());
}

void UseOneLineRows(QListWidget& list) {
    list.setItemDelegate(new OneLineRows(&list));
    list.setUniformItemSizes(true);
    list.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}
