#pragma once

#include "catalogue/OnAir.h"
#include "catalogue/Schedule.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <stop_token>

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
    // Listings left out for their size: each over the limit of one, and those beyond the total.
    qsizetype tooLarge = 0;
    qsizetype beyondTotal = 0;
};

// What a guide reads at most. A week of one channel is about 10 KB, and the guide holds about five
// times the bytes of the listings it reads.
struct GuideLimits {
    qint64 listingBytes = qint64(4) << 20; // a larger listing is left out
    qint64 totalBytes = qint64(32) << 20;  // the listings after these are left out
};

// The class selector's item under which `listingPath` (below `dataFolder`, which ends in "/") is
// listed.
QString ClassOfListing(const QString& dataFolder, const QString& listingPath);

// Scans the whole data folder and parses every listing within `limits`; `today` dates listings
// without any dated heading (see ParseSchedule). A listing that cannot be read is left out; a failed
// walk keeps the channels found before it. When `stop` is requested the walk and the reading end
// soon, with what was read so far.
Guide LoadGuide(const QString& dataFolder, const QDate& today, const GuideLimits& limits = {},
                const std::stop_token& stop = {});

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
