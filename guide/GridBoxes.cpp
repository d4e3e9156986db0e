#include "guide/GridBoxes.h"

#include "catalogue/OnAir.h"

#include <algorithm>
#include <limits>
#include <set>

namespace {

// Lays the programmes along the time line as the on-air list finds them: at every moment the one
// shown is the one that started last (of two at one instant, the one listed later) and has not
// ended. `started` holds those started and maybe not ended, latest on top.
class TimeLine final {
public:
    void Start(const GridBox& programme) {
        ShowUntil(programme.start);
        started_.push_back(programme);
    }
    // Lays out what shows until `instant`.
    void ShowUntil(qint64 instant) {
        while (!started_.empty()) {
            const GridBox& top = started_.back();
            const qint64 until = std::min(top.end, instant);
            if (until > shownUntil_)
                Show(top.programme, shownUntil_, until);
            shownUntil_ = std::max(shownUntil_, until);
            if (top.end > instant)
                return;
            started_.pop_back();
        }
        shownUntil_ = std::max(shownUntil_, instant);
    }
    std::vector<GridBox> Take() {
        ShowUntil(std::numeric_limits<qint64>::max());
        return std::move(boxes_);
    }

private:
    void Show(const Programme* programme, qint64 from, qint64 to) {
        if (!boxes_.empty() && boxes_.back().programme == programme && boxes_.back().end == from)
            boxes_.back().end = to;
        else
            boxes_.push_back({from, to, programme});
    }

    std::vector<GridBox> started_;
    std::vector<GridBox> boxes_;
    qint64 shownUntil_ = std::numeric_limits<qint64>::min();
};

} // namespace

std::vector<GridBox> ScheduleBoxes(const Schedule& schedule) {
    std::vector<GridBox> programmes;
    for (const ScheduleDay& day : schedule.days)
        for (const Programme& programme : day.programmes)
            if (programme.Dated())
                programmes.push_back({programme.start, EndOf(programme), &programme});
    // Listings are mostly in order already; a stable sort keeps the listing's order among equals.
    const auto byStart = [](const GridBox& a, const GridBox& b) { return a.start < b.start; };
    if (!std::is_sorted(programmes.begin(), programmes.end(), byStart))
        std::stable_sort(programmes.begin(), programmes.end(), byStart);
    TimeLine line;
    for (const GridBox& programme : programmes)
        if (programme.end > programme.start) // one that ends before it starts is never on air
            line.Start(programme);
    return line.Take();
}

GuideGrid::GuideGrid(std::shared_ptr<const Guide> guide) : guide_(std::move(guide)) {
    firstBox_.reserve(static_cast<size_t>(guide_->channels.size()) + 1);
    std::set<QDate> dates;
    for (const GuideChannel& channel : guide_->channels) {
        firstBox_.push_back(static_cast<qsizetype>(boxes_.size()));
        const std::vector<GridBox> boxes = ScheduleBoxes(channel.schedule);
        boxes_.insert(boxes_.end(), boxes.begin(), boxes.end());
        for (const ScheduleDay& day : channel.schedule.days)
            if (day.date.isValid() && !day.programmes.isEmpty())
                dates.insert(day.date);
    }
    firstBox_.push_back(static_cast<qsizetype>(boxes_.size()));
    boxes_.shrink_to_fit();
    dates_ = QList<QDate>(dates.begin(), dates.end());
}

std::span<const GridBox> GuideGrid::Boxes(qsizetype channel) const {
    const auto at = static_cast<size_t>(channel);
    return std::span<const GridBox>(boxes_).subspan(static_cast<size_t>(firstBox_[at]),
                                                    static_cast<size_t>(firstBox_[at + 1] - firstBox_[at]));
}

std::span<const GridBox> GuideGrid::BoxesDuring(qsizetype channel, qint64 from, qint64 to) const {
    const std::span<const GridBox> all = Boxes(channel);
    // Boxes do not overlap, so their ends are in order as their starts are.
    const auto first = std::upper_bound(all.begin(), all.end(), from,
                                        [](qint64 at, const GridBox& box) { return at < box.end; });
    const auto last =
        std::lower_bound(first, all.end(), to, [](const GridBox& box, qint64 at) { return box.start < at; });
    return {first, last};
}
