#pragma once

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QTime>

#include <optional>

// The clock the listings are written in. A listing gives dates and wall-clock times; the program
// compares instants. This is the one place that turns the one into the other and says what "now"
// is on the listings' clock: the machine's local time.

// The instant of `time` on `date` as a listing writes it; its date() and time() give them back.
QDateTime ListingInstant(const QDate& date, const QTime& time);

// `instant` on the listings' clock: its date() and time() are what a listing writes for it.
QDateTime ListingTimeOf(const QDateTime& instant);

// The present instant on the listings' clock.
QDateTime ListingNow();

// ListingInstant made cheaply for many programmes: asking the system for an offset from UTC costs
// more than parsing a day, so a date whose offset is the same at both of its ends is asked once and
// that offset serves all its programmes. Listings parsed together share their dates, so one of these
// can serve them all; a new one picks up a change of the time zone.
class ListingTimes final {
public:
    QDateTime At(const QDate& date, const QTime& time);

private:
    // Per date its steady offset in seconds; empty for a date whose offset changes.
    QHash<QDate, std::optional<int>> offsets_;
    QDate lastDate_;
    std::optional<int> lastOffset_;
};
