#pragma once

#include "catalogue/OnAir.h"
#include "catalogue/Schedule.h"

#include <QDateTime>
#include <QList>
#include <QString>

// Every channel of the data folder with its listing read as a schedule.
struct GuideChannel {
    QString displayName;
    QString listingPath;
    // The class selector's item whose scan lists this channel: its class folder, or "所有频道" for a
    // listing outside the class folders.
    QString className;
    Schedule schedule;
};

struct Guide {
    QList<GuideChannel> channels; // in catalogue order
};

// The class selector's item under which `listingPath` (below `dataFolder`, which ends in "/") is
// listed.
QString ClassOfListing(const QString& dataFolder, const QString& listingPath);

// Scans the whole data folder and parses every listing; `today` dates listings without any dated
// heading (see ParseSchedule). A listing that cannot be read is left out; a failed walk keeps the
// channels found before it.
Guide LoadGuide(const QString& dataFolder, const QDate& today);

// One line of the on-air list: a channel with a programme on air.
struct OnAirRow {
    qsizetype channel = -1; // index into Guide::channels
    const Programme* current = nullptr;
    const Programme* next = nullptr; // may be null
};

// The channels with a programme on air at `now`, in catalogue order.
QList<OnAirRow> OnAirRows(const Guide& guide, const QDateTime& now);

// The programme on air at `now` in a listing that has a heading dated `now`'s date on the listings'
// clock; null otherwise.
const Programme* ProgrammeOnAirToday(const Schedule& schedule, const QDateTime& now);

// Milliseconds from `now` to the start of the next minute (1 to 60,000).
int MillisecondsToNextMinute(const QDateTime& now);
