#include "ui/ListingMarkSchedule.h"

#include "catalogue/ScheduleDates.h"
#include "catalogue/ScheduleReader.h"

namespace {

// Calls `take(line)` with each of the memo's lines: a LF ends a block, a line separator a line
// within one.
template <typename Take> void ForEachMemoLine(QStringView text, Take take) {
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (unit == u'\n' || unit == QChar::LineSeparator) {
            take(text.sliced(lineStart, i - lineStart));
            lineStart = i + 1;
        }
    }
    if (lineStart < text.size())
        take(text.sliced(lineStart));
}

// A day as the first look through a listing sees it: where it is and how far its times reach.
struct DaySketch {
    std::optional<Heading> heading; // empty for the implicit day before any heading
    qsizetype offset = 0;           // of its first line (the heading) in the text
    qsizetype line = 0;             // index of that line
    int rollOvers = 0;              // times earlier than the one before: days its programmes run on
};

// The days of a listing, one look through it without keeping its lines.
QList<DaySketch> SketchDays(QStringView text) {
    QList<DaySketch> days;
    qsizetype index = 0;
    QTime last;
    bool preamble = true;
    ForEachMemoLine(text, [&](QStringView untrimmed) {
        const qsizetype line = index++;
        const ListingLine read = ReadListingLine(untrimmed);
        if (read.heading) {
            days.append({read.heading, untrimmed.data() - text.data(), line, 0});
            last = QTime();
            preamble = false;
        } else if (read.programme) {
            if (preamble) {
                days.append({std::nullopt, 0, 0, 0});
                preamble = false;
            }
            if (last.isValid() && read.programme->first < last)
                ++days.last().rollOvers;
            last = read.programme->first;
        }
    });
    return days;
}

} // namespace

Schedule ParseScheduleAround(QStringView text, const QDate& fallbackDate, const QDate& today) {
    const QList<DaySketch> days = SketchDays(text);
    const QList<QDate> allDates = DatesOfDays(
        days.size(), [&days](qsizetype i) -> const std::optional<Heading>& { return days[i].heading; },
        fallbackDate);
    // Only under a heading of today does a listing mark what is on air (as ProgrammeOnAirToday
    // does); a listing without one, however large, keeps nothing.
    bool headedToday = false;
    for (qsizetype d = 0; d < days.size() && !headedToday; ++d)
        headedToday = days[d].heading.has_value() && allDates[d] == today;
    if (!headedToday)
        return {};
    ScheduleReader reader;
    QList<QDate> dates;
    const auto read = [&](qsizetype d, bool firstProgrammeOnly) {
        const qsizetype end = d + 1 < days.size() ? days[d + 1].offset : text.size();
        bool taken = false;
        qsizetype index = days[d].line;
        ForEachMemoLine(text.sliced(days[d].offset, end - days[d].offset), [&](QStringView line) {
            if (!taken)
                taken = reader.Take(line, index++) && firstProgrammeOnly;
        });
        dates.append(allDates[d]);
    };
    bool previousKept = false;
    for (qsizetype d = 0; d < days.size(); ++d) {
        // A day's programmes start from its date on, and end (at the next one's start, or the
        // midnight after) by the second midnight after its last one's date; a day either side
        // spares the reasoning about the clock's offsets.
        const QDate& date = allDates[d];
        const bool canBeOnAir =
            date.isValid() && date.daysTo(today) >= -1 && date.daysTo(today) <= days[d].rollOvers + 2;
        if (canBeOnAir)
            read(d, false);
        // The day after a kept one ends that one's last programme; its first is all that takes.
        else if (previousKept)
            read(d, true);
        previousKept = canBeOnAir;
    }
    return reader.Finish(dates);
}
