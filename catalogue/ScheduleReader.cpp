#include "catalogue/ScheduleReader.h"

#include "catalogue/ListingTime.h"
#include "catalogue/ScheduleDates.h"

namespace {

void TimeTheProgrammes(ScheduleDay& day) {
    if (!day.date.isValid())
        return;
    QDate date = day.date;
    QTime last;
    for (Programme& programme : day.programmes) {
        if (last.isValid() && programme.time < last)
            date = date.addDays(1);
        last = programme.time;
        programme.start = ListingMSecs(date, programme.time);
    }
}

void LinkStops(QList<ScheduleDay>& days) {
    for (qsizetype d = 0; d < days.size(); ++d) {
        QList<Programme>& programmes = days[d].programmes;
        for (qsizetype i = 0; i + 1 < programmes.size(); ++i) {
            if (programmes[i].Dated())
                programmes[i].stop = programmes[i + 1].start;
        }
        if (programmes.isEmpty() || d + 1 >= days.size())
            continue;
        Programme& last = programmes.last();
        const ScheduleDay& following = days[d + 1];
        if (last.Dated() && following.date.isValid() && following.date == days[d].date.addDays(1) &&
            !following.programmes.isEmpty() && following.programmes.first().start > last.start)
            last.stop = following.programmes.first().start;
    }
}

} // namespace

bool ScheduleReader::Take(QStringView untrimmed, qsizetype index) {
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
        day.programmes.append(
            {programme->first, Programme::kUndated, std::nullopt, Title(programme->second), index});
    else
        day.notes.append(line.toString());
    return programme.has_value();
}

Schedule ScheduleReader::Finish(const QDate& fallbackDate) {
    const QList<QDate> dates = DatesOfDays(
        parsed_.size(), [this](qsizetype i) -> const std::optional<Heading>& { return parsed_[i].heading; },
        fallbackDate);
    return Finish(dates);
}

Schedule ScheduleReader::Finish(const QList<QDate>& dates) {
    schedule_.days.reserve(parsed_.size());
    for (qsizetype i = 0; i < parsed_.size(); ++i) {
        ScheduleDay& day = parsed_[i].day;
        day.date = dates.value(i);
        TimeTheProgrammes(day);
        schedule_.days.append(std::move(day));
    }
    LinkStops(schedule_.days);
    return std::move(schedule_);
}

// A listing repeats its titles day after day; the repeats share one string.
QString ScheduleReader::Title(QStringView text) {
    // Room for a week's titles at once: growing the table title by title costs more than the look-ups.
    if (titles_.isEmpty())
        titles_.reserve(128);
    const auto found = titles_.constFind(text);
    if (found != titles_.constEnd())
        return *found;
    QString title = text.toString();
    // The key views the characters of the string kept as the value, which never change.
    titles_.insert(QStringView(title), title);
    return title;
}
