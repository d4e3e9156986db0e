#include "catalogue/Schedule.h"

#include "catalogue/ListingFile.h"

#include <array>
#include <cstdlib>

namespace {

constexpr char16_t kFullWidthColon = u'：';

struct Heading {
    int year = 0; // 0: none written
    int month = 0;
    int day = 0;     // 0 with month 0: no date written
    int weekday = 0; // 1 (Monday) to 7, 0: none written
};

// Reads one to `maxDigits` ASCII digits at `pos`.
std::optional<int> ReadNumber(QStringView text, qsizetype& pos, int minDigits, int maxDigits) {
    int value = 0;
    int digits = 0;
    while (pos < text.size() && digits < maxDigits && text[pos] >= u'0' && text[pos] <= u'9') {
        value = value * 10 + (text[pos].unicode() - u'0');
        ++pos;
        ++digits;
    }
    if (digits < minDigits)
        return std::nullopt;
    return value;
}

bool Take(QStringView text, qsizetype& pos, QStringView word) {
    if (!text.sliced(pos).startsWith(word))
        return false;
    pos += word.size();
    return true;
}

void SkipBlanks(QStringView text, qsizetype& pos) {
    while (pos < text.size() && text[pos].isSpace())
        ++pos;
}

bool IsTimeColon(QChar c) {
    return c == u':' || c == kFullWidthColon;
}

// "HH:MM title" or "HH:MM:SS title" (either colon); the title must not be empty.
std::optional<std::pair<QTime, QStringView>> ParseProgrammeLine(QStringView line) {
    qsizetype pos = 0;
    const auto hour = ReadNumber(line, pos, 1, 2);
    if (!hour || pos >= line.size() || !IsTimeColon(line[pos]))
        return std::nullopt;
    ++pos;
    const auto minute = ReadNumber(line, pos, 2, 2);
    if (!minute)
        return std::nullopt;
    int second = 0;
    if (pos + 1 < line.size() && IsTimeColon(line[pos]) && line[pos + 1].isDigit()) {
        ++pos;
        const auto seconds = ReadNumber(line, pos, 2, 2);
        if (!seconds)
            return std::nullopt;
        second = *seconds;
    }
    // "19:000" or "19:00:5" is not a time followed by a title.
    if (pos < line.size() && line[pos] >= u'0' && line[pos] <= u'9')
        return std::nullopt;
    const QTime time(*hour, *minute, second);
    const QStringView title = line.sliced(pos).trimmed();
    if (!time.isValid() || title.isEmpty())
        return std::nullopt;
    return std::pair{time, title};
}

int ReadWeekday(QStringView text, qsizetype& pos) {
    static constexpr std::array<char16_t, 8> kNames = {u'一', u'二', u'三', u'四',
                                                       u'五', u'六', u'日', u'天'};
    qsizetype at = pos;
    if (!Take(text, at, u"星期") && !Take(text, at, u"周"))
        return 0;
    if (at >= text.size())
        return 0;
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (text[at] == QChar(kNames[i])) {
            pos = at + 1;
            return i < 7 ? static_cast<int>(i) + 1 : 7;
        }
    }
    return 0;
}

// "2026-12-10" (also with "/" or "."), "2026年12月10日", "12月10日"; "日" may be "号".
bool ReadDate(QStringView text, qsizetype& pos, Heading& heading) {
    qsizetype at = pos;
    const auto first = ReadNumber(text, at, 1, 4);
    if (!first)
        return false;
    if (at - pos == 4 && at < text.size() && (text[at] == u'-' || text[at] == u'/' || text[at] == u'.')) {
        const QChar separator = text[at++];
        const auto month = ReadNumber(text, at, 1, 2);
        if (!month || at >= text.size() || text[at] != separator)
            return false;
        ++at;
        const auto day = ReadNumber(text, at, 1, 2);
        if (!day)
            return false;
        heading = {*first, *month, *day, 0};
        pos = at;
        return true;
    }
    int year = 0;
    int month = *first;
    if (at - pos == 4) {
        if (!Take(text, at, u"年"))
            return false;
        year = *first;
        const auto written = ReadNumber(text, at, 1, 2);
        if (!written)
            return false;
        month = *written;
    } else if (at - pos > 2) {
        return false;
    }
    if (!Take(text, at, u"月"))
        return false;
    const auto day = ReadNumber(text, at, 1, 2);
    if (!day || !(Take(text, at, u"日") || Take(text, at, u"号")))
        return false;
    heading = {year, month, *day, 0};
    pos = at;
    return true;
}

std::optional<Heading> ParseHeading(QStringView line) {
    Heading heading;
    qsizetype pos = 0;
    const bool dated = ReadDate(line, pos, heading);
    SkipBlanks(line, pos);
    heading.weekday = ReadWeekday(line, pos);
    SkipBlanks(line, pos);
    if (pos != line.size() || (!dated && heading.weekday == 0))
        return std::nullopt;
    if (dated && (heading.month < 1 || heading.month > 12 || heading.day < 1 || heading.day > 31))
        return std::nullopt;
    if (heading.year != 0 && !QDate(heading.year, heading.month, heading.day).isValid())
        return std::nullopt;
    return heading;
}

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

struct ParsedDay {
    ScheduleDay day;
    std::optional<Heading> heading; // empty for the implicit day before any heading
};

// The dates of `count` days in listing order, `headingOf(i)` the heading of day i (empty for the
// implicit day before any heading).
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

void TimeTheProgrammes(ScheduleDay& day, LocalTimes& localTimes) {
    if (!day.date.isValid())
        return;
    QDate date = day.date;
    QTime last;
    for (Programme& programme : day.programmes) {
        if (last.isValid() && programme.time < last)
            date = date.addDays(1);
        last = programme.time;
        programme.start = localTimes.At(date, programme.time);
    }
}

void LinkStops(QList<ScheduleDay>& days) {
    for (qsizetype d = 0; d < days.size(); ++d) {
        QList<Programme>& programmes = days[d].programmes;
        for (qsizetype i = 0; i + 1 < programmes.size(); ++i) {
            if (programmes[i].start.isValid())
                programmes[i].stop = programmes[i + 1].start;
        }
        if (programmes.isEmpty() || d + 1 >= days.size())
            continue;
        Programme& last = programmes.last();
        const ScheduleDay& following = days[d + 1];
        if (last.start.isValid() && following.date.isValid() && following.date == days[d].date.addDays(1) &&
            !following.programmes.isEmpty() && following.programmes.first().start > last.start)
            last.stop = following.programmes.first().start;
    }
}

// What a listing line is. Most lines are programmes, and a programme line never reads as a heading
// (a heading's number is followed by a date mark, not a colon), so the programme is tried first.
struct ListingLine {
    QStringView trimmed;
    std::optional<std::pair<QTime, QStringView>> programme;
    std::optional<Heading> heading;
};

ListingLine ReadListingLine(QStringView untrimmed) {
    ListingLine line{untrimmed.trimmed(), std::nullopt, std::nullopt};
    if (line.trimmed.isEmpty())
        return line;
    line.programme = ParseProgrammeLine(line.trimmed);
    if (!line.programme)
        line.heading = ParseHeading(line.trimmed);
    return line;
}

// Reads a listing line by line.
class ScheduleReader final {
public:
    void Take(QStringView untrimmed) { Take(untrimmed, index_++); }

    // True when the line is a programme.
    bool Take(QStringView untrimmed, qsizetype index) {
        const ListingLine read = ReadListingLine(untrimmed);
        const QStringView line = read.trimmed;
        if (line.isEmpty())
            return false;
        if (read.heading) {
            ScheduleDay day{{}, line.toString(), {}, {}};
            // The days of a listing are alike: room for as many programmes as the day before.
            if (!parsed_.isEmpty())
                day.programmes.reserve(parsed_.last().day.programmes.size());
            parsed_.append({std::move(day), read.heading});
            return false;
        }
        const auto& programme = read.programme;
        if (parsed_.isEmpty()) {
            if (!programme) {
                schedule_.preamble.append(line.toString());
                return false;
            }
            parsed_.append(ParsedDay{});
        }
        ScheduleDay& day = parsed_.last().day;
        if (programme)
            day.programmes.append({programme->first, {}, std::nullopt, Title(programme->second), index});
        else
            day.notes.append(line.toString());
        return programme.has_value();
    }

    Schedule Finish(const QDate& fallbackDate, LocalTimes& localTimes) {
        const QList<QDate> dates = DatesOfDays(
            parsed_.size(),
            [this](qsizetype i) -> const std::optional<Heading>& { return parsed_[i].heading; },
            fallbackDate);
        return Finish(dates, localTimes);
    }

    // With the days' dates worked out beforehand, one per day taken.
    Schedule Finish(const QList<QDate>& dates, LocalTimes& localTimes) {
        schedule_.days.reserve(parsed_.size());
        for (qsizetype i = 0; i < parsed_.size(); ++i) {
            ScheduleDay& day = parsed_[i].day;
            day.date = dates.value(i);
            TimeTheProgrammes(day, localTimes);
            schedule_.days.append(std::move(day));
        }
        LinkStops(schedule_.days);
        return std::move(schedule_);
    }

private:
    // A listing repeats its titles day after day; the repeats share one string.
    QString Title(QStringView text) {
        const auto found = titles_.constFind(text);
        if (found != titles_.constEnd())
            return *found;
        QString title = text.toString();
        // The key views the characters of the string kept as the value, which never change.
        titles_.insert(QStringView(title), title);
        return title;
    }

    Schedule schedule_;
    QList<ParsedDay> parsed_;
    QHash<QStringView, QString> titles_;
    qsizetype index_ = 0;
};

template <typename Take> void ForEachLine(QStringView text, LineBreaks breaks, Take take) {
    if (breaks == LineBreaks::Listing) {
        ForEachListingLine(text, take);
        return;
    }
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
QList<DaySketch> SketchDays(QStringView text, LineBreaks breaks) {
    QList<DaySketch> days;
    qsizetype index = 0;
    QTime last;
    bool preamble = true;
    ForEachLine(text, breaks, [&](QStringView untrimmed) {
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

QDateTime LocalTimes::At(const QDate& date, const QTime& time) {
    if (date != lastDate_) {
        lastDate_ = date;
        auto found = offsets_.constFind(date);
        if (found == offsets_.constEnd()) {
            const int offset = QDateTime(date, QTime(0, 0)).offsetFromUtc();
            const bool steady = offset == QDateTime(date, QTime(23, 59, 59)).offsetFromUtc();
            found = offsets_.insert(date, steady ? std::optional<int>(offset) : std::nullopt);
        }
        lastOffset_ = *found;
    }
    return lastOffset_ ? QDateTime(date, time, Qt::OffsetFromUTC, *lastOffset_) : QDateTime(date, time);
}

Schedule ParseSchedule(const QStringList& lines, const QDate& fallbackDate) {
    LocalTimes localTimes;
    return ParseSchedule(lines, fallbackDate, localTimes);
}

Schedule ParseSchedule(const QStringList& lines, const QDate& fallbackDate, LocalTimes& localTimes) {
    ScheduleReader reader;
    for (const QString& line : lines)
        reader.Take(line);
    return reader.Finish(fallbackDate, localTimes);
}

Schedule ParseScheduleText(QStringView text, const QDate& fallbackDate, LocalTimes& localTimes) {
    ScheduleReader reader;
    ForEachListingLine(text, [&reader](QStringView line) { reader.Take(line); });
    return reader.Finish(fallbackDate, localTimes);
}

OnAir FindOnAir(const Schedule& schedule, const QDateTime& at) {
    // Compared as milliseconds since the epoch: a comparison with a local date-time asks the time
    // zone again each time, which costs more than the whole search.
    const qint64 moment = at.toMSecsSinceEpoch();
    OnAir found;
    qint64 currentStart = 0;
    qint64 nextStart = 0;
    for (const ScheduleDay& day : schedule.days) {
        for (const Programme& programme : day.programmes) {
            if (!programme.start.isValid())
                continue;
            const qint64 start = programme.start.toMSecsSinceEpoch();
            if (start > moment) {
                if (found.next == nullptr || start < nextStart) {
                    found.next = &programme;
                    nextStart = start;
                }
                continue;
            }
            if (found.current != nullptr && start < currentStart)
                continue;
            const qint64 end =
                programme.stop
                    ? programme.stop->toMSecsSinceEpoch()
                    : QDateTime(programme.start.date().addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
            if (moment < end) {
                found.current = &programme;
                currentStart = start;
            }
        }
    }
    return found;
}

Schedule ParseScheduleAround(QStringView text, LineBreaks breaks, const QDate& fallbackDate,
                             const QDate& today, LocalTimes& localTimes) {
    const QList<DaySketch> days = SketchDays(text, breaks);
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
        ForEachLine(text.sliced(days[d].offset, end - days[d].offset), breaks, [&](QStringView line) {
            if (!taken)
                taken = reader.Take(line, index++) && firstProgrammeOnly;
        });
        dates.append(allDates[d]);
    };
    bool previousKept = false;
    for (qsizetype d = 0; d < days.size(); ++d) {
        // A day's programmes start from its date on, and end (at the next one's start, or the
        // midnight after) by the second midnight after its last one's date; a day either side
        // spares the reasoning about local time.
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
    return reader.Finish(dates, localTimes);
}
