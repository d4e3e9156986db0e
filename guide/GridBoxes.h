#pragma once

#include "guide/Guide.h"

#include <QDate>
#include <QList>

#include <memory>
#include <span>
#include <vector>

// One programme as the grid draws it: from its start to where the next programme of its channel
// starts, in milliseconds since the epoch.
struct GridBox {
    qint64 start = 0;
    qint64 end = 0; // after start
    const Programme* programme = nullptr;
};

// Every channel's programmes as boxes in time order that do not overlap, read once from a guide.
// At every moment a channel's box is the programme that the on-air list shows then: a box runs from
// the programme's start to its end (see EndOf: the next start, or the next date's first programme,
// else midnight) or to a later programme's start, whichever comes first. A programme with an
// unknown date, one that ends before it starts and one that another starts at the same instant (the
// one listed first) get no box; one that outlasts a later one shows again after it.
class GuideGrid final {
public:
    explicit GuideGrid(std::shared_ptr<const Guide> guide);

    const Guide& Channels() const { return *guide_; }
    qsizetype ChannelCount() const { return guide_->channels.size(); }
    std::span<const GridBox> Boxes(qsizetype channel) const;
    // The boxes of `channel` that run at some moment of [from, to).
    std::span<const GridBox> BoxesDuring(qsizetype channel, qint64 from, qint64 to) const;
    // The dates of the listings' days, every channel's together, in order.
    const QList<QDate>& Dates() const { return dates_; }

private:
    std::shared_ptr<const Guide> guide_;
    std::vector<GridBox> boxes_;      // the channels' boxes one after another
    std::vector<qsizetype> firstBox_; // per channel where its boxes begin, and the end
    QList<QDate> dates_;
};

// The boxes of one channel's schedule (what GuideGrid keeps per channel).
std::vector<GridBox> ScheduleBoxes(const Schedule& schedule);
