#include "catalogue/ListingTime.h"

QDateTime ListingInstant(const QDate& date, const QTime& time) {
    return QDateTime(date, time, Qt::OffsetFromUTC, kListingUtcOffset);
}

QDateTime ListingTimeOf(const QDateTime& instant) {
    return instant.toOffsetFromUtc(kListingUtcOffset);
}

QDateTime ListingNow() {
    return ListingTimeOf(QDateTime::currentDateTimeUtc());
}
