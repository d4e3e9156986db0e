#include "catalogue/OnAir.h"

#include "catalogue/ListingTime.h"

qint64 EndOf(const Programme& programme) {
    return programme.stop ? *programme.stop : ListingMidnightAfter(programme.start);
}

OnAir FindOnAir(const Schedule& schedule, const QDateTime& at) {
    // Compared as milliseconds since the epoch: a comparison with a local date-time asks the time
    // zone again each time, which costs more than the whole search.
    const qint64 moment = at.toMSecsSinceEpoch();
    OnAir found;
    qint64 currentStart = 0;
    qint64 nextStart = 0;
    for (const ScheduleDay& day : schedule.days) {
        for (const Programme& programme : day.programmes) {
            if (!programme.Dated())
                continue;
            const qint64 start = programme.start;
            if (start > moment) {
                if (found.next == nullptr || start < nextStart) {
                    found.next = &programme;
                    nextStart = start;
                }
                continue;
            }
            if (found.current != nullptr && start < currentStart)
                continue;
            if (moment < EndOf(programme)) {
                found.current = &programme;
                currentStart = start;
            }
        }
    }
    return found;
}
