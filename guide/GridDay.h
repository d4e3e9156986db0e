#pragma once

#include "guide/GridBoxes.h"

#include <QDate>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>
#include <optional>
#include <span>

// A box of the day: its row and its place among the row's boxes.
struct GridPlace {
    qsizetype row = 0;
    qsizetype box = 0;
    friend bool operator==(const GridPlace&, const GridPlace&) = default;
};

// The grid's measures in pixels. Times run across: `slotWidth` pixels for every 30 minutes, the
// zoom. Channels run down, one row each.
struct GridScale {
    int slotWidth = 100;
    int rowHeight = 24;
};

// A mark of the time ruler, every 30 minutes.
struct RulerMark {
    int x = 0;
    QString label; // "HH:MM"
    bool hour = false;
};

// How a box looks at a moment.
enum class BoxTime { Past, OnAir, Later };
BoxTime BoxTimeAt(const GridBox& box, qint64 now);

// The moves of the selection.
enum class GridMove { Left, Right, Up, Down, Home, End, PageUp, PageDown };

// One date of the grid with the channels of one class: what the grid page draws and moves over.
// Places are in content pixels: x 0 is the day's 00:00 and y 0 the top of the first row; the view
// puts them beside its channel column and below its ruler. The day runs from midnight to midnight
// on the listings' clock; a box that starts the day before or ends the day after is cut at its edge.
class GridDay final {
public:
    GridDay() = default;
    // `className` as the class selector names it: "所有频道" keeps every channel. `keep`, when given,
    // leaves out the channels of the class it says no to.
    GridDay(const GuideGrid& grid, const QDate& date, const QString& className, const GridScale& scale = {},
            const std::function<bool(const GuideChannel&)>& keep = {});

    const QDate& Date() const { return date_; }
    const GridScale& Scale() const { return scale_; }
    qint64 DayStart() const { return dayStart_; }
    qint64 DayEnd() const { return dayEnd_; }

    qsizetype RowCount() const { return rows_.size(); }
    // Index of the row's channel in the guide.
    qsizetype ChannelOf(qsizetype row) const { return rows_[row].channel; }
    const GuideChannel& Channel(qsizetype row) const;
    std::span<const GridBox> RowBoxes(qsizetype row) const { return rows_[row].boxes; }
    const GridBox& Box(const GridPlace& place) const {
        return RowBoxes(place.row)[static_cast<size_t>(place.box)];
    }
    // The most boxes of any row.
    qsizetype MostBoxes() const { return mostBoxes_; }

    // The row of a channel (an index into the guide); none when the class leaves it out.
    std::optional<qsizetype> RowOfChannel(qsizetype channel) const;
    // Where a programme lies; none when it has no box this day.
    std::optional<GridPlace> PlaceOf(qsizetype channel, const Programme* programme) const;

    // Geometry.
    int Width() const { return XOf(dayEnd_); }
    int Height() const { return static_cast<int>(rows_.size()) * scale_.rowHeight; }
    int XOf(qint64 instant) const;
    qint64 InstantAt(int x) const;
    QRect BoxRect(const GridPlace& place) const;
    // The marks of the ruler between x `from` and `to`, each half hour's.
    QList<RulerMark> RulerMarks(int from, int to) const;
    // The rows that meet y `from` to `to` (exclusive), as [first, last).
    std::pair<qsizetype, qsizetype> RowsBetween(int from, int to) const;
    // The boxes of a row that meet x `from` to `to`, as [first, last) of RowBoxes.
    std::pair<qsizetype, qsizetype> BoxesBetween(qsizetype row, int from, int to) const;
    std::optional<GridPlace> PlaceAt(const QPoint& point) const;

    // Navigation.
    // The box of `row` on at `instant`; when none is, the nearest in time (the next one before the
    // one before). None when the row has no boxes this day.
    std::optional<GridPlace> BoxNear(qsizetype row, qint64 instant) const;
    // BoxNear in the first row from `row` on that has boxes this day.
    std::optional<GridPlace> NearFrom(qsizetype row, qint64 instant) const;
    // Where a move from `from` lands; `from` itself at an edge. A page is `pageRows` rows. Up and down
    // land on the box on at the selected programme's start (its start within the day), passing over
    // rows without boxes.
    GridPlace Move(const GridPlace& from, GridMove move, qsizetype pageRows) const;

private:
    struct Row {
        qsizetype channel = 0;
        std::span<const GridBox> boxes;
    };
    std::optional<GridPlace> NearInRows(qsizetype row, qsizetype step, qsizetype stop, qint64 instant) const;

    const GuideGrid* grid_ = nullptr;
    QDate date_;
    GridScale scale_;
    qint64 dayStart_ = 0;
    qint64 dayEnd_ = 0;
    QList<Row> rows_;
    qsizetype mostBoxes_ = 0;
};

// A box as the grid names it to the user, in a tooltip and to a screen reader: "HH:MM–HH:MM title".
QString BoxName(const GridBox& box);
