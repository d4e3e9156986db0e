#include "reminders/ReminderPlan.h"

#include <QHash>

#include <limits>

namespace {

bool Follows(const Reminder& reminder, const QDateTime& now) {
    return (reminder.state == ReminderState::Waiting || reminder.state == ReminderState::Changed) &&
           reminder.start.addSecs(kReminderLateSecs) > now;
}

// The programme of `channel` with the reminder's title nearest to its start, within the move allowed.
const Programme* NearestProgramme(const GuideChannel& channel, const Reminder& reminder) {
    const Programme* nearest = nullptr;
    qint64 nearestDistance = std::numeric_limits<qint64>::max();
    const QString title = reminder.title.trimmed();
    for (const ScheduleDay& day : channel.schedule.days) {
        for (const Programme& programme : day.programmes) {
            if (!programme.Dated() || programme.title.trimmed() != title)
                continue;
            const qint64 distance = std::abs(reminder.start.toMSecsSinceEpoch() - programme.start) / 1000;
            if (distance <= kProgrammeMoveSecs && distance < nearestDistance) {
                nearest = &programme;
                nearestDistance = distance;
            }
        }
    }
    return nearest;
}

} // namespace

ReminderDecision DecideReminders(const QList<Reminder>& reminders, const QDateTime& now) {
    ReminderDecision decision;
    for (qsizetype i = 0; i < reminders.size(); ++i) {
        const Reminder& reminder = reminders[i];
        if (reminder.state != ReminderState::Waiting)
            continue;
        if (reminder.start.addSecs(kReminderLateSecs) <= now)
            decision.missed.append(i);
        else if (reminder.FiringTime() <= now)
            decision.fire.append(i);
    }
    return decision;
}

std::optional<QDateTime> NextFiring(const QList<Reminder>& reminders, const QDateTime& now) {
    std::optional<QDateTime> next;
    for (const Reminder& reminder : reminders) {
        if (reminder.state != ReminderState::Waiting)
            continue;
        // One whose time has passed fires at once.
        const QDateTime firing = std::max(reminder.FiringTime(), now);
        if (!next || firing < *next)
            next = firing;
    }
    return next;
}

bool FollowSchedule(QList<Reminder>& reminders, const Guide& guide, const QDateTime& now, ChannelKeys& keys) {
    QHash<QString, qsizetype> channelOfKey;
    for (qsizetype i = 0; i < guide.channels.size(); ++i)
        channelOfKey.insert(keys.KeyOf(guide.channels[i].displayName), i);
    bool changed = false;
    for (Reminder& reminder : reminders) {
        if (!Follows(reminder, now))
            continue;
        const auto channel = channelOfKey.constFind(reminder.channelKey);
        const Programme* programme =
            channel == channelOfKey.cend() ? nullptr : NearestProgramme(guide.channels[*channel], reminder);
        if (programme == nullptr) {
            changed = changed || reminder.state != ReminderState::Changed;
            reminder.state = ReminderState::Changed;
            continue;
        }
        Reminder followed =
            ReminderOf(guide.channels[*channel], reminder.channelKey, *programme, reminder.lead);
        followed.id = reminder.id;
        followed.state = ReminderState::Waiting;
        const bool moved = followed.start != reminder.start || followed.end != reminder.end ||
                           followed.listingPath != reminder.listingPath || followed.line != reminder.line ||
                           followed.state != reminder.state || followed.channel != reminder.channel ||
                           followed.className != reminder.className;
        if (moved) {
            reminder = std::move(followed);
            changed = true;
        }
    }
    return changed;
}
