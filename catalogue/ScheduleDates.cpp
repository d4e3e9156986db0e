#include "catalogue/ScheduleDates.h"

#include <cstdlib>

namespace {

// The date of a year-less heading: of the years around the anchor, the one nearest to it.
QDate NearestDate(int month, int day, const QDate& anchor) {
    QDate best;
    for (int year = anchor.year() - 1; year <= anchor.year() + 1; ++year) {
        const QDate candidate(year, month, day);
        if (candidate.isValid() &&
            (!best.isValid() || std::abs(anchor.daysTo(candidate)) < std::abs(anchor.daysTo(best))))
            best = candidate;
    }
    return best;
}

} // namespace

QDate ResolveDate(const Heading& heading, const QDate& previous, const QDate& anchor) {
    if (heading.year != 0)
        return QDate(heading.year, heading.month, heading.day);
    if (heading.month != 0) {
        const QDate& near = previous.isValid() ? previous : anchor;
        return near.isValid() ? NearestDate(heading.month, heading.day, near) : QDate();
    }
    // A weekday alone: the next such day after the day before.
    if (!previous.isValid())
        return {};
    QDate date = previous.addDays(1);
    while (date.dayOfWeek() != heading.weekday)
        date = date.addDays(1);
    return date;
}
