#pragma once

#include "catalogue/Schedule.h"

#include <QDate>
#include <QStringView>

// What the listing's mark reads of the memo's text `text` (lines ended by LF or U+2028, see
// ListingWithTitle): of the schedule ParseSchedule gives for those lines, only the days whose
// programmes can be on air on `today` (with the same dates, times and line indexes), and after each
// of those the following day with its first programme, which ends the day before; nothing when no
// heading dates a day `today`. The rest is read but not kept, so a large listing costs little
// memory. The programme on air at a moment of `today` under today's heading is the same in both.
Schedule ParseScheduleAround(QStringView text, const QDate& fallbackDate, const QDate& today);
