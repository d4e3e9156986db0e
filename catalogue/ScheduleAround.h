#pragma once

#include "catalogue/ListingTime.h"
#include "catalogue/Schedule.h"

#include <QDate>
#include <QStringView>

// Which breaks end a line: a listing file's (CR, LF or CR LF) or a memo's (LF or U+2028).
enum class LineBreaks { Listing, Memo };

// Of the schedule ParseSchedule gives for the lines of `text`, only the days whose programmes can
// be on air on `today` (with the same dates, times and line indexes), and after each of those the
// following day with its first programme, which ends the day before; nothing when no heading
// dates a day `today`. The rest is read but not kept, so a large listing costs little memory. The
// programme on air at a moment of `today` under today's heading is the same in both.
Schedule ParseScheduleAround(QStringView text, LineBreaks breaks, const QDate& fallbackDate,
                             const QDate& today, ListingTimes& times);
