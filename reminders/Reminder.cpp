#include "reminders/Reminder.h"

#include <QJsonValue>
#include <QUuid>

#include <algorithm>

namespace {

struct StateName {
    ReminderState state;
    const char* name;
};
constexpr StateName kStateNames[] = {
    {ReminderState::Waiting, "waiting"},
    {ReminderState::Fired, "fired"},
    {ReminderState::Missed, "missed"},
    {ReminderState::Changed, "changed"},
};

const char* NameOf(ReminderState state) {
    for (const StateName& entry : kStateNames)
        if (entry.state == state)
            return entry.name;
    return "waiting";
}

ReminderState StateNamed(const QString& name) {
    for (const StateName& entry : kStateNames)
        if (name == QLatin1String(entry.name))
            return entry.state;
    return ReminderState::Waiting;
}

QString InstantText(const QDateTime& instant) {
    return instant.isValid() ? instant.toUTC().toString(Qt::ISODate) : QString();
}

QDateTime InstantOf(const QJsonValue& value) {
    QDateTime instant = QDateTime::fromString(value.toString(), Qt::ISODate);
    return instant.isValid() ? instant.toUTC() : QDateTime();
}

} // namespace

bool IsReminderLead(int minutes) {
    return std::find(std::begin(kReminderLeads), std::end(kReminderLeads), minutes) !=
           std::end(kReminderLeads);
}

QString LeadText(int minutes) {
    return minutes == 0 ? QStringLiteral("准时") : QStringLiteral("%1 分钟").arg(minutes);
}

QString NewReminderId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString StateText(ReminderState state) {
    switch (state) {
    case ReminderState::Missed:
        return QStringLiteral("已错过");
    case ReminderState::Changed:
        return QStringLiteral("节目已变更");
    case ReminderState::Waiting:
    case ReminderState::Fired:
        break;
    }
    return {};
}

QJsonObject ReminderToJson(const Reminder& reminder) {
    return {
        {QStringLiteral("id"), reminder.id},
        {QStringLiteral("channel"), reminder.channel},
        {QStringLiteral("channelKey"), reminder.channelKey},
        {QStringLiteral("listing"), reminder.listingPath},
        {QStringLiteral("class"), reminder.className},
        {QStringLiteral("line"), static_cast<double>(reminder.line)},
        {QStringLiteral("title"), reminder.title},
        {QStringLiteral("start"), InstantText(reminder.start)},
        {QStringLiteral("end"), InstantText(reminder.end)},
        {QStringLiteral("lead"), reminder.lead},
        {QStringLiteral("state"), QLatin1String(NameOf(reminder.state))},
    };
}

std::optional<Reminder> ReminderFromJson(const QJsonObject& object) {
    Reminder reminder;
    reminder.id = object.value(QStringLiteral("id")).toString();
    reminder.channel = object.value(QStringLiteral("channel")).toString();
    reminder.channelKey = object.value(QStringLiteral("channelKey")).toString();
    reminder.listingPath = object.value(QStringLiteral("listing")).toString();
    reminder.className = object.value(QStringLiteral("class")).toString();
    reminder.line = object.value(QStringLiteral("line")).toInteger(-1);
    reminder.title = object.value(QStringLiteral("title")).toString();
    reminder.start = InstantOf(object.value(QStringLiteral("start")));
    reminder.end = InstantOf(object.value(QStringLiteral("end")));
    const int lead = object.value(QStringLiteral("lead")).toInt(kDefaultReminderLead);
    reminder.lead = IsReminderLead(lead) ? lead : kDefaultReminderLead;
    reminder.state = StateNamed(object.value(QStringLiteral("state")).toString());
    if (reminder.title.isEmpty() || !reminder.start.isValid())
        return std::nullopt;
    if (reminder.id.isEmpty())
        reminder.id = NewReminderId();
    return reminder;
}
