#pragma once

#include "reminders/Reminder.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// One line of a list on the on-air page: a channel's programme, or a note that leads nowhere
// ("nothing on air", "more results").
struct PageRow {
    // Names the row across updates: a row with the same key is the same row, updated in place.
    QString key;
    QStringList cells;
    QString listingPath; // empty for a note
    QString className;
    bool past = false;   // shown greyed
    QString channelName; // empty for a note
    // The programme that "提醒我" reminds of (an on-air row's next one); none for a note.
    std::optional<Reminder> programme;
};

// The rows of a list of the on-air page. New rows are laid over the old ones: a row whose key stays
// is updated in place and rows come and go one by one, so the view keeps its selection, its scroll
// position and the screen reader's focus row when the minute moves on or the data folder is read
// again.
class TPageRowsModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPathRole = Qt::UserRole;
    static constexpr int kClassRole = Qt::UserRole + 1;

    TPageRowsModel(QStringList headers, QObject* parent);

    void SetRows(QList<PageRow> rows);
    const PageRow& Row(int row) const { return rows_[row]; }
    // The colour of past rows' text.
    void SetPastColour(const QColor& colour) { pastColour_ = colour; }
    // Cells of these columns may be shown cut short: their whole text is their tooltip and their
    // accessible description.
    void SetWholeTextColumns(QList<int> columns) { wholeTextColumns_ = std::move(columns); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    bool KeepsOrder(const QList<PageRow>& rows) const;
    void RemoveRowsNotIn(const QList<PageRow>& rows);
    void Merge(QList<PageRow> rows);

    QStringList headers_;
    QList<PageRow> rows_;
    QColor pastColour_;
    QList<int> wholeTextColumns_;
};
