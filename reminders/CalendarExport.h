#pragma once

#include "reminders/Reminder.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// The reminders as an iCalendar file (RFC 5545), so that a person's own calendar reminds them while
// this program is not running. Each reminder is one VEVENT: its start and end in UTC (the end is
// the next programme's start, else 30 minutes on), the title as SUMMARY, the channel as LOCATION,
// the reminder's id as its UID and an alarm at its lead. `stamp` is the DTSTAMP of every event.
QByteArray CalendarText(const QList<Reminder>& reminders, const QDateTime& stamp);

// Writes CalendarText to `path` whole (temporary file, synced, renamed). Throws Exception when it
// cannot be written.
void WriteCalendar(const QString& path, const QList<Reminder>& reminders, const QDateTime& stamp);
