#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// A reminder of one programme: what it is, where its listing is, and how long before its start the
// person wants to hear of it.

// The leads a person can choose, in minutes.
inline constexpr int kReminderLeads[] = {0, 1, 5, 10, 15, 30, 60};
inline constexpr int kDefaultReminderLead = 5;
bool IsReminderLead(int minutes);
// The lead as the page shows it: "5 分钟", "准时" for 0.
QString LeadText(int minutes);

enum class ReminderState {
    Waiting, // fires at its time
    Fired,   // the notification went out
    Missed,  // its time passed while the program was not running: "已错过"
    Changed, // an update moved or removed the programme beyond recognition: "节目已变更"
};

struct Reminder {
    // Made once when the reminder is set and kept through every change, so that a calendar that
    // imported it updates its event instead of adding a second one.
    QString id;
    QString channel;    // the name shown
    QString channelKey; // the channel's identity, which outlives the listing's file and class
    QString listingPath;
    QString className;
    qsizetype line = -1; // the programme's line in the listing when last found
    QString title;
    QDateTime start; // an instant
    QDateTime end;   // the next programme's start; invalid when unknown
    int lead = kDefaultReminderLead;
    ReminderState state = ReminderState::Waiting;

    // When the notification goes out.
    QDateTime FiringTime() const { return start.addSecs(qint64(-60) * lead); }
    // Whether two reminders are of one programme.
    bool SameProgramme(const Reminder& other) const {
        return channelKey == other.channelKey && start == other.start && title == other.title;
    }
};

// A new id for a reminder.
QString NewReminderId();

// The state as the page shows it; empty while it waits or once it fired.
QString StateText(ReminderState state);

QJsonObject ReminderToJson(const Reminder& reminder);
// None of the reminder when the object lacks what a reminder needs (a title, a valid start).
std::optional<Reminder> ReminderFromJson(const QJsonObject& object);
