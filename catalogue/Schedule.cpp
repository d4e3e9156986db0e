#include "catalogue/Schedule.h"

#include "catalogue/ListingFile.h"
#include "catalogue/ScheduleReader.h"

Schedule ParseSchedule(const QStringList& lines, const QDate& fallbackDate) {
    ScheduleReader reader;
    for (const QString& line : lines)
        reader.Take(line);
    return reader.Finish(fallbackDate);
}

Schedule ParseScheduleText(QStringView text, const QDate& fallbackDate) {
    ScheduleReader reader;
    ForEachListingLine(text, [&reader](QStringView line) { reader.Take(line); });
    return reader.Finish(fallbackDate);
}
