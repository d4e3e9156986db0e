#include "guide/GridDay.h"

#include "catalogue/CatalogueClasses.h"
#include "catalogue/ListingTime.h"

#include <algorithm>

namespace {

constexpr qint64 kSlotMs = qint64(30) * 60 * 1000;

// Division that rounds towards minus infinity, so pixels left of midnight stay left of it.
qint64 FloorDivide(qint64 value, qint64 divisor) {
    const qint64 quotient = value / divisor;
    return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

} // namespace

BoxTime BoxTimeAt(const GridBox& box, qint64 now) {
    if (box.end <= now)
        return BoxTime::Past;
    return box.start <= now ? BoxTime::OnAir : BoxTime::Later;
}

GridDay::GridDay(const GuideGrid& grid, const QDate& date, const QString& className, const GridScale& scale,
                 const std::function<bool(const GuideChannel&)>& keep)
    : grid_(&grid), date_(date), scale_(scale) {
    scale_.slotWidth = std::max(scale_.slotWidth, 1);
    scale_.rowHeight = std::max(scale_.rowHeight, 1);
    dayStart_ = ListingInstant(date, QTime(0, 0)).toMSecsSinceEpoch();
    dayEnd_ = ListingInstant(date.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    const bool everyClass = className == QStringView(kAllChannelsClass);
    for (qsizetype channel = 0; channel < grid.ChannelCount(); ++channel) {
        if (!everyClass && grid.Channels().channels[channel].className != className)
            continue;
        if (keep && !keep(grid.Channels().channels[channel]))
            continue;
        const std::span<const GridBox> boxes = grid.BoxesDuring(channel, dayStart_, dayEnd_);
        rows_.append({channel, boxes});
        mostBoxes_ = std::max(mostBoxes_, static_cast<qsizetype>(boxes.size()));
    }
}

const GuideChannel& GridDay::Channel(qsizetype row) const {
    return grid_->Channels().channels[rows_[row].channel];
}

std::optional<qsizetype> GridDay::RowOfChannel(qsizetype channel) const {
    // Rows keep the guide's order.
    const auto found =
        std::lower_bound(rows_.begin(), rows_.end(), channel,
                         [](const Row& row, qsizetype wanted) { return row.channel < wanted; });
    if (found == rows_.end() || found->channel != channel)
        return std::nullopt;
    return found - rows_.begin();
}

std::optional<GridPlace> GridDay::PlaceOf(qsizetype channel, const Programme* programme) const {
    const std::optional<qsizetype> row = RowOfChannel(channel);
    if (!row)
        return std::nullopt;
    const std::span<const GridBox> boxes = RowBoxes(*row);
    for (size_t i = 0; i < boxes.size(); ++i)
        if (boxes[i].programme == programme)
            return GridPlace{*row, static_cast<qsizetype>(i)};
    return std::nullopt;
}

int GridDay::XOf(qint64 instant) const {
    return static_cast<int>(FloorDivide((instant - dayStart_) * scale_.slotWidth, kSlotMs));
}

qint64 GridDay::InstantAt(int x) const {
    return dayStart_ + FloorDivide(qint64(x) * kSlotMs, scale_.slotWidth);
}

QRect GridDay::BoxRect(const GridPlace& place) const {
    const GridBox& box = Box(place);
    const int left = XOf(std::max(box.start, dayStart_));
    // At least a pixel, so that a programme of a minute can still be seen and clicked.
    const int right = std::max(XOf(std::min(box.end, dayEnd_)), left + 1);
    return {left, static_cast<int>(place.row) * scale_.rowHeight, right - left, scale_.rowHeight};
}

QList<RulerMark> GridDay::RulerMarks(int from, int to) const {
    QList<RulerMark> marks;
    const qint64 first = std::max<qint64>(FloorDivide(InstantAt(from) - dayStart_, kSlotMs), 0);
    for (qint64 slot = first;; ++slot) {
        const qint64 instant = dayStart_ + slot * kSlotMs;
        const int x = XOf(instant);
        if (instant >= dayEnd_ || x > to)
            break;
        const QTime time = ListingTimeOf(QDateTime::fromMSecsSinceEpoch(instant)).time();
        marks.append({x, time.toString(QStringLiteral("HH:mm")), time.minute() == 0});
    }
    return marks;
}

std::pair<qsizetype, qsizetype> GridDay::RowsBetween(int from, int to) const {
    const qsizetype first = std::clamp<qsizetype>(from / scale_.rowHeight, 0, RowCount());
    const qsizetype last =
        std::clamp<qsizetype>((qint64(to) + scale_.rowHeight - 1) / scale_.rowHeight, first, RowCount());
    return {first, last};
}

std::pair<qsizetype, qsizetype> GridDay::BoxesBetween(qsizetype row, int from, int to) const {
    const std::span<const GridBox> boxes = RowBoxes(row);
    // A pixel more on each side: box edges are rounded to pixels.
    const qint64 fromInstant = InstantAt(from - 1);
    const qint64 toInstant = InstantAt(to + 1);
    const auto first = std::upper_bound(boxes.begin(), boxes.end(), fromInstant,
                                        [](qint64 at, const GridBox& box) { return at < box.end; });
    const auto last = std::lower_bound(first, boxes.end(), toInstant,
                                       [](const GridBox& box, qint64 at) { return box.start < at; });
    return {first - boxes.begin(), last - boxes.begin()};
}

std::optional<GridPlace> GridDay::PlaceAt(const QPoint& point) const {
    if (point.y() < 0 || point.x() < 0 || point.x() >= Width())
        return std::nullopt;
    const qsizetype row = point.y() / scale_.rowHeight;
    if (row >= RowCount())
        return std::nullopt;
    const auto [first, last] = BoxesBetween(row, point.x(), point.x());
    for (qsizetype box = first; box < last; ++box)
        if (BoxRect({row, box}).contains(point))
            return GridPlace{row, box};
    return std::nullopt;
}

std::optional<GridPlace> GridDay::BoxNear(qsizetype row, qint64 instant) const {
    const std::span<const GridBox> boxes = RowBoxes(row);
    if (boxes.empty())
        return std::nullopt;
    const auto found = std::upper_bound(boxes.begin(), boxes.end(), instant,
                                        [](qint64 at, const GridBox& box) { return at < box.end; });
    // On air, or the next one to start; after the last, the last.
    const auto box = found == boxes.end() ? found - 1 : found;
    return GridPlace{row, box - boxes.begin()};
}

std::optional<GridPlace> GridDay::NearInRows(qsizetype row, qsizetype step, qsizetype stop,
                                             qint64 instant) const {
    for (; row != stop && row >= 0 && row < RowCount(); row += step)
        if (const std::optional<GridPlace> place = BoxNear(row, instant))
            return place;
    return std::nullopt;
}

std::optional<GridPlace> GridDay::NearFrom(qsizetype row, qint64 instant) const {
    return NearInRows(std::max<qsizetype>(row, 0), 1, RowCount(), instant);
}

GridPlace GridDay::Move(const GridPlace& from, GridMove move, qsizetype pageRows) const {
    const qsizetype count = static_cast<qsizetype>(RowBoxes(from.row).size());
    const qint64 anchor = std::max(Box(from).start, dayStart_);
    const qsizetype page = std::max<qsizetype>(pageRows, 1);
    std::optional<GridPlace> to;
    switch (move) {
    case GridMove::Left:
        return {from.row, std::max<qsizetype>(from.box - 1, 0)};
    case GridMove::Right:
        return {from.row, std::min(from.box + 1, count - 1)};
    case GridMove::Home:
        return {from.row, 0};
    case GridMove::End:
        return {from.row, count - 1};
    case GridMove::Up:
        to = NearInRows(from.row - 1, -1, -1, anchor);
        break;
    case GridMove::Down:
        to = NearInRows(from.row + 1, 1, RowCount(), anchor);
        break;
    case GridMove::PageUp: {
        // A page away; past it when that row has no boxes, else short of it.
        const qsizetype target = std::max<qsizetype>(from.row - page, 0);
        to = NearInRows(target, -1, -1, anchor);
        if (!to)
            to = NearInRows(target + 1, 1, from.row, anchor);
        break;
    }
    case GridMove::PageDown: {
        const qsizetype target = std::min(from.row + page, RowCount() - 1);
        to = NearInRows(target, 1, RowCount(), anchor);
        if (!to)
            to = NearInRows(target - 1, -1, from.row, anchor);
        break;
    }
    }
    return to.value_or(from);
}

QString BoxName(const GridBox& box) {
    const auto time = [](qint64 instant) {
        return ListingTimeOf(QDateTime::fromMSecsSinceEpoch(instant)).toString(QStringLiteral("HH:mm"));
    };
    return time(box.start) + u'\u2013' + time(box.end) + u' ' + box.programme->title;
}
