#include "catalogue/Schedule.h"

#include "catalogue/ListingFile.h"
#include "catalogue/ScheduleReader.h"

Schedule ParseSchedule(const QStringList& lines, const QDate& fallbackDate) {
    ListingTimes times;
    return ParseSchedule(lines, fallbackDate, times);
}

Schedule ParseSchedule(const QStringList& lines, const QDate& fallbackDate, ListingTimes& times) {
    ScheduleReader reader;
    for (const QString& line : lines)
        reader.Take(line);
    return reader.Finish(fallbackDate, times);
}

Schedule ParseScheduleText(QStringView text, const QDate& fallbackDate, ListingTimes& times) {
    ScheduleReader reader;
    ForEachListingLine(text, [&reader](QStringView line) { reader.Take(line); });
    return reader.Finish(fallbackDate, times);
}
