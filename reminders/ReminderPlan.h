#pragma once

#include "guide/Guide.h"
#include "reminders/FollowedShows.h"
#include "reminders/Reminder.h"

#include <QDateTime>
#include <QList>

#include <optional>

// When reminders fire, decided from a clock that the caller passes in.

// A reminder still fires this long after its programme began (the machine slept, the timer came
// late); after that it was missed.
inline constexpr qint64 kReminderLateSecs = qint64(5) * 60;

// What is to be done with the reminders at `now`.
struct ReminderDecision {
    QList<qsizetype> fire;   // waiting ones whose time has come: notify, then mark fired
    QList<qsizetype> missed; // waiting ones whose programme began too long ago: mark "已错过"
};
ReminderDecision DecideReminders(const QList<Reminder>& reminders, const QDateTime& now);

// The next time a waiting reminder fires after `now`; none when none waits.
std::optional<QDateTime> NextFiring(const QList<Reminder>& reminders, const QDateTime& now);

// An update may move a programme: a reminder follows its programme to the same channel and title
// whose start lies at most this far from the old one.
inline constexpr qint64 kProgrammeMoveSecs = qint64(3) * 3600;

// Follows every waiting (or earlier changed) reminder whose programme lies ahead of `now` into a
// guide read after an update: its start, end, listing and line become the programme's, the
// nearest in time of its channel and title within kProgrammeMoveSecs; a reminder that matches none
// becomes "节目已变更" and is kept. Returns whether anything changed.
bool FollowSchedule(QList<Reminder>& reminders, const Guide& guide, const QDateTime& now, ChannelKeys& keys);
