#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

// The clock the listings are written in: Beijing time, the time of the guide's channels, whatever
// zone the machine is set to. A listing gives dates and wall-clock times; the program compares
// instants. This is the one place that turns the one into the other and says what "now" is on the
// listings' clock.
//
// It is a fixed UTC+8, not the zone "Asia/Shanghai": China has kept no daylight saving since 1991,
// so the two agree on every date a listing can hold, and the fixed offset needs no time-zone data
// (a container or a minimal install may have none, and Qt then takes an unknown zone for UTC
// without a word) and costs no look-up per programme.

// How far the listings' clock is ahead of UTC, in seconds.
inline constexpr int kListingUtcOffset = 8 * 3600;

// The instant of `time` on `date` as a listing writes it; its date() and time() give them back.
QDateTime ListingInstant(const QDate& date, const QTime& time);

// The same instant in milliseconds since the epoch, which is how the schedules keep their times: a
// QDateTime with an offset allocates, and a week of listings holds tens of thousands of them.
qint64 ListingMSecs(const QDate& date, const QTime& time);

// An instant kept in milliseconds since the epoch, on the listings' clock.
QDateTime ListingTimeAt(qint64 msecs);

// The first midnight on the listings' clock after the instant `msecs`, in milliseconds since the epoch.
qint64 ListingMidnightAfter(qint64 msecs);

// `instant` on the listings' clock: its date() and time() are what a listing writes for it.
QDateTime ListingTimeOf(const QDateTime& instant);

// The present instant on the listings' clock. Views take their "now" from a replaceable function
// that defaults to this, so tests can set the time.
QDateTime ListingNow();
