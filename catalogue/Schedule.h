#pragma once

#include "catalogue/ListingTime.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>

#include <limits>
#include <optional>

// The schedule model: a listing's lines (as LoadListingLines gives them) read as days and
// programmes. It only reads; what the schedule view shows is still the file's own lines.
//
// A listing is a title, then per day a heading and the day's programme lines:
//
//     ZORQ-1 中央 一周节目预告
//
//     2026-12-10 星期四
//     06:00 朝闻天下
//     09:00 电视剧：山海情长(12)
//
// Day headings: "2026-12-10 星期四", "2026年12月10日", "12月10日 星期四" and "星期四" alone (the
// next such weekday after the day before), with or without blanks; "周四" for "星期四".
// Programme lines: "HH:MM title", "HH:MM:SS title", also with the full-width colon "：" and a
// one-digit hour. Any other line that is not blank is a note of its day.
//
// Its parts: ScheduleLine (the grammar of a line), ScheduleDates (the dates of the days),
// ScheduleReader (lines to days and programmes), ListingTime (the listings' clock), OnAir (what
// runs at a moment).

struct Programme {
    // `start` of a programme whose day has no known date.
    static constexpr qint64 kUndated = std::numeric_limits<qint64>::min();

    // The time as the line writes it.
    QTime time;
    // The instant it starts, in milliseconds since the epoch (see ListingMSecs); kUndated when the
    // programme's day has no known date.
    qint64 start = kUndated;
    // Where the next programme starts: the next one of the day, or for the last of a day the
    // first of the next listed day when that is the following date. Empty when unknown.
    std::optional<qint64> stop;
    QString title;
    // Index of the programme's line in the parsed lines; -1 for one not read from lines.
    qsizetype line = -1;

    bool Dated() const { return start != kUndated; }
    // The start on the listings' clock; only for a dated programme.
    QDateTime StartTime() const { return ListingTimeAt(start); }
};

struct ScheduleDay {
    // Invalid when no date could be worked out (a weekday alone before any dated day, a listing
    // without headings and no fallback date).
    QDate date;
    // The heading as written; empty for the implicit day of lines before any heading.
    QString heading;
    QList<Programme> programmes;
    // The day's other lines, trimmed, in file order.
    QStringList notes;
};

struct Schedule {
    // Lines before the first heading that are neither blank nor programmes (the title line).
    QStringList preamble;
    QList<ScheduleDay> days;
};

// Parses a listing. `fallbackDate` dates a listing that has programmes before any heading (such
// a listing becomes one implicit day) and gives the year of headings without one when no heading
// in the listing carries a year; without it those days stay undated.
//
// Years: a heading without a year takes the year that puts it nearest to the dated day before it
// (the listing's first dated day for headings before that), so "12月31日" then "1月1日" rolls over
// at New Year. Within a day, a time earlier than the one before it is after midnight: it starts
// on the following date (listings often run a day on to 01:00 or 02:00).
Schedule ParseSchedule(const QStringList& lines, const QDate& fallbackDate = {});

// The same over a listing's whole text, its lines cut as SplitListingLines cuts them (so
// Programme::line counts the same lines), without making a list of them.
Schedule ParseScheduleText(QStringView text, const QDate& fallbackDate);
