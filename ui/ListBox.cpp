#include "ui/ListBox.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QStyle>

int TListBoxItems::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(texts_.size());
}

QVariant TListBoxItems::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return texts_[index.row()];
    return {};
}

Qt::ItemFlags TListBoxItems::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

void TListBoxItems::Append(const QStringList& texts) {
    if (texts.isEmpty())
        return;
    const int first = static_cast<int>(texts_.size());
    beginInsertRows({}, first, first + static_cast<int>(texts.size()) - 1);
    texts_.append(texts);
    endInsertRows();
}

void TListBoxItems::Clear() {
    beginResetModel();
    texts_.clear();
    endResetModel();
}

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

TListBox::TListBox(QWidget* parent) : QListView(parent), items_(new TListBoxItems(this)) {
    setModel(items_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new OneLineRows(this));
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { emit currentRowChanged(current.row()); });
    connect(this, &QAbstractItemView::pressed, this, [this](const QModelIndex& index) {
        if (index.isValid())
            emit itemPressed(index.row());
    });
}

int TListBox::count() const {
    return items_->rowCount();
}

QString TListBox::itemText(int row) const {
    return items_->Texts().value(row);
}

const QStringList& TListBox::itemTexts() const {
    return items_->Texts();
}

void TListBox::addItem(const QString& text) {
    items_->Append({text});
}

void TListBox::addItems(const QStringList& texts) {
    items_->Append(texts);
}

void TListBox::clear() {
    items_->Clear();
}

int TListBox::currentRow() const {
    return currentIndex().row();
}

void TListBox::setCurrentRow(int row) {
    selectionModel()->setCurrentIndex(items_->index(row), QItemSelectionModel::ClearAndSelect);
}

int TListBox::selectedRow() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

QRect TListBox::visualItemRect(int row) const {
    return visualRect(items_->index(row));
}

void TListBox::scrollToItem(int row) {
    scrollTo(items_->index(row));
}
