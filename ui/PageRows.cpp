#include "ui/PageRows.h"

#include <QSet>

#include <utility>

TPageRowsModel::TPageRowsModel(QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), headers_(std::move(headers)) {}

void TPageRowsModel::SetRows(QList<PageRow> rows) {
    RemoveRowsNotIn(rows);
    if (KeepsOrder(rows)) {
        Merge(std::move(rows));
        return;
    }
    // Rows that changed places: nothing to keep.
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void TPageRowsModel::RemoveRowsNotIn(const QList<PageRow>& rows) {
    QSet<QString> keys;
    for (const PageRow& row : rows)
        keys.insert(row.key);
    // From the end, a run of rows at a time.
    for (int end = static_cast<int>(rows_.size()); end > 0;) {
        if (keys.contains(rows_[end - 1].key)) {
            --end;
            continue;
        }
        int first = end - 1;
        while (first > 0 && !keys.contains(rows_[first - 1].key))
            --first;
        beginRemoveRows({}, first, end - 1);
        rows_.remove(first, end - first);
        endRemoveRows();
        end = first;
    }
}

// True when the rows kept appear in `rows` in the order they have now (and each once).
bool TPageRowsModel::KeepsOrder(const QList<PageRow>& rows) const {
    QSet<QString> kept;
    for (const PageRow& row : rows_)
        kept.insert(row.key);
    qsizetype next = 0;
    for (const PageRow& row : rows) {
        if (!kept.contains(row.key))
            continue;
        if (next >= rows_.size() || rows_[next].key != row.key)
            return false;
        ++next;
    }
    return next == rows_.size();
}

void TPageRowsModel::Merge(QList<PageRow> rows) {
    for (int at = 0; at < rows.size(); ++at) {
        PageRow& row = rows[at];
        if (at < rows_.size() && rows_[at].key == row.key) {
            PageRow& old = rows_[at];
            if (old.cells != row.cells || old.past != row.past || old.listingPath != row.listingPath ||
                old.className != row.className) {
                old = std::move(row);
                emit dataChanged(index(at, 0), index(at, columnCount() - 1));
            }
            continue;
        }
        beginInsertRows({}, at, at);
        rows_.insert(at, std::move(row));
        endInsertRows();
    }
}

int TPageRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TPageRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant TPageRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const PageRow& row = rows_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return row.cells.value(index.column());
    case Qt::ForegroundRole:
        return row.past ? QVariant(pastColour_) : QVariant();
    case Qt::ToolTipRole:
    case Qt::AccessibleDescriptionRole:
        return wholeTextColumns_.contains(index.column()) ? row.cells.value(index.column()) : QVariant();
    case kPathRole:
        return row.listingPath;
    case kClassRole:
        return row.className;
    default:
        return {};
    }
}

QVariant TPageRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return headers_.value(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags TPageRowsModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    // A note can be read but not chosen.
    if (rows_[index.row()].listingPath.isEmpty())
        return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
