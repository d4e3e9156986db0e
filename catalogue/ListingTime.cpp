#include "catalogue/ListingTime.h"

namespace {

// The clock's offset from UTC throughout `date`, in seconds; none when it changes that day.
std::optional<int> SteadyOffsetOn(const QDate& date) {
    const int offset = QDateTime(date, QTime(0, 0)).offsetFromUtc();
    if (offset != QDateTime(date, QTime(23, 59, 59)).offsetFromUtc())
        return std::nullopt;
    return offset;
}

} // namespace

QDateTime ListingInstant(const QDate& date, const QTime& time) {
    return QDateTime(date, time);
}

QDateTime ListingTimeOf(const QDateTime& instant) {
    return instant.toLocalTime();
}

QDateTime ListingNow() {
    return QDateTime::currentDateTime();
}

QDateTime ListingTimes::At(const QDate& date, const QTime& time) {
    if (date != lastDate_) {
        lastDate_ = date;
        auto found = offsets_.constFind(date);
        if (found == offsets_.constEnd())
            found = offsets_.insert(date, SteadyOffsetOn(date));
        lastOffset_ = *found;
    }
    // A fixed offset compares and prints like the clock it was taken from, and costs no look-up.
    return lastOffset_ ? QDateTime(date, time, Qt::OffsetFromUTC, *lastOffset_) : ListingInstant(date, time);
}
