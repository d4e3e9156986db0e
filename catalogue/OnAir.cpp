#include "catalogue/OnAir.h"

#include "catalogue/ListingTime.h"

QDateTime EndOf(const Programme& programme) {
    return programme.stop ? *programme.stop : ListingInstant(programme.start.date().addDays(1), QTime(0, 0));
}

namespace {

// EndOf in milliseconds since the epoch, without a copy of the stop.
qint64 EndMSecs(const Programme& programme) {
    return programme.stop ? programme.stop->toMSecsSinceEpoch() : EndOf(programme).toMSecsSinceEpoch();
}

} // namespace

OnAir FindOnAir(const Schedule& schedule, const QDateTime& at) {
    // Compared as milliseconds since the epoch: a comparison with a local date-time asks the time
    // zone again each time, which costs more than the whole search.
    const qint64 moment = at.toMSecsSinceEpoch();
    OnAir found;
    qint64 currentStart = 0;
    qint64 nextStart = 0;
    for (const ScheduleDay& day : schedule.days) {
        for (const Programme& programme : day.programmes) {
            if (!programme.start.isValid())
                continue;
            const qint64 start = programme.start.toMSecsSinceEpoch();
            if (start > moment) {
                if (found.next == nullptr || start < nextStart) {
                    found.next = &programme;
                    nextStart = start;
                }
                continue;
            }
            if (found.current != nullptr && start < currentStart)
                continue;
            if (moment < EndMSecs(programme)) {
                found.current = &programme;
                currentStart = start;
            }
        }
    }
    return found;
}
