#pragma once

#include "catalogue/ScheduleLine.h"

#include <QDate>
#include <QList>

#include <optional>

// The date of a day under `heading`: as written; a year-less date nearest to the dated day before
// (`previous`), or to `anchor` when there is none; a weekday alone the next such day after
// `previous`. Invalid when nothing dates it.
QDate ResolveDate(const Heading& heading, const QDate& previous, const QDate& anchor);

// The dates of `count` days in listing order, `headingOf(i)` the heading of day i (empty for the
// implicit day before any heading, which gets `fallbackDate`). Year-less headings are anchored at the
// listing's first heading with a year, else at `fallbackDate`.
template <typename HeadingOf>
QList<QDate> DatesOfDays(qsizetype count, HeadingOf headingOf, const QDate& fallbackDate) {
    QDate anchor = fallbackDate;
    for (qsizetype i = 0; i < count; ++i) {
        const std::optional<Heading>& heading = headingOf(i);
        if (heading && heading->year != 0) {
            anchor = QDate(heading->year, heading->month, heading->day);
            break;
        }
    }
    QList<QDate> dates;
    dates.reserve(count);
    QDate previous;
    for (qsizetype i = 0; i < count; ++i) {
        const std::optional<Heading>& heading = headingOf(i);
        dates.append(heading ? ResolveDate(*heading, previous, anchor) : fallbackDate);
        if (dates.last().isValid())
            previous = dates.last();
    }
    return dates;
}
