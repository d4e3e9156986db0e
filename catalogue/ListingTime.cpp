#include "catalogue/ListingTime.h"

QDateTime ListingInstant(const QDate& date, const QTime& time) {
    return QDateTime(date, time, Qt::OffsetFromUTC, kListingUtcOffset);
}

namespace {

constexpr qint64 kDayMSecs = qint64{24} * 3600 * 1000;
constexpr qint64 kOffsetMSecs = qint64{kListingUtcOffset} * 1000;

} // namespace

qint64 ListingMSecs(const QDate& date, const QTime& time) {
    const qint64 days = date.toJulianDay() - QDate(1970, 1, 1).toJulianDay();
    return days * kDayMSecs + time.msecsSinceStartOfDay() - kOffsetMSecs;
}

qint64 ListingMidnightAfter(qint64 msecs) {
    // Whole days on the listings' clock, floored, so that an instant before 1970 works the same.
    const qint64 local = msecs + kOffsetMSecs;
    const qint64 day = local / kDayMSecs - (local % kDayMSecs < 0 ? 1 : 0);
    return (day + 1) * kDayMSecs - kOffsetMSecs;
}

QDateTime ListingTimeAt(qint64 msecs) {
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::OffsetFromUTC, kListingUtcOffset);
}

QDateTime ListingTimeOf(const QDateTime& instant) {
    return instant.toOffsetFromUtc(kListingUtcOffset);
}

QDateTime ListingNow() {
    return ListingTimeOf(QDateTime::currentDateTimeUtc());
}
