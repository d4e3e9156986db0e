#pragma once

#include "sources/ScheduleSources.h"

#include <QDateTime>

// When the program updates by itself, decided from facts alone so that every decision can be
// checked at any moment with a clock a test sets.
struct RefreshFacts {
    AutomaticUpdate options;
    UpdateHistory history;
    // When automatic updates began in this run: the program's start, or the moment they were
    // switched on.
    QDateTime since;
    // Whether some listing of the data folder has a day after the start's date.
    bool hasDayAfterToday = true;
    bool updateRunning = false;
};

// Listings older than this are refreshed at the start.
inline constexpr qint64 kStaleAfterSeconds = qint64(12) * 60 * 60;
// No two updates begin closer together than this.
inline constexpr qint64 kMinSpacingSeconds = qint64(30) * 60;

// When the next automatic update is due. Invalid when none is planned: automatic updates are off,
// or an update runs (the next is planned when it ends).
//
// At the start (of automatic updates), an update is due when the last successful one is older than 12 hours
// or no listing has a day after today. While the program runs, one is due every day at the daily time. After
// an update in which a source failed, the next comes 30 minutes, 1 hour and 2 hours after the first, second
// and third such update in a row, then at the daily time. Never two within 30 minutes. A daily time that
// passed while the machine slept is due at once.
QDateTime NextAutomaticUpdate(const RefreshFacts& facts);

// Whether an automatic update is to begin at `now`.
bool AutomaticUpdateDue(const RefreshFacts& facts, const QDateTime& now);
