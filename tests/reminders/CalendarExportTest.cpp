// The calendar export, read back by Debian's python3-icalendar, and its lines as RFC 5545 wants them.
#include "reminders/CalendarExport.h"

#include "tests/reminders/ReminderTestGuide.h"
#include "tests/support/Files.h"
#include "tests/support/QtPrinters.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

Reminder Event(const QString& id, const QString& channel, const QString& title, const QDateTime& start,
               const QDateTime& end, int lead) {
    Reminder reminder;
    reminder.id = id;
    reminder.channel = channel;
    reminder.title = title;
    reminder.start = start;
    reminder.end = end;
    reminder.lead = lead;
    return reminder;
}

// What python3-icalendar reads from the file: one JSON object per event.
QList<QJsonObject> ReadBack(const QString& path) {
    QProcess reader;
    reader.start(u"/usr/bin/python3"_qs, {QString::fromUtf8(PELNAVI_ICALENDAR_READER), path});
    EXPECT_TRUE(reader.waitForFinished(60000));
    EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
    QList<QJsonObject> events;
    for (const QByteArray& line : reader.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            events.append(QJsonDocument::fromJson(line).object());
    return events;
}

TEST(CalendarExport, AnIndependentReaderReadsEveryEvent) {
    const QString longTitle =
        u"黄金剧场:山海情长(21)——这是一个很长很长的标题，用来检查超过七十五个字节的行被折叠后仍能读回；还有反斜杠\\"_qs;
    const QList<Reminder> reminders = {
        Event(u"a1"_qs, u"CCTV-1 综合"_qs, u"新闻联播"_qs, Beijing(10, 19), Beijing(10, 19, 31), 5),
        // Without a next programme it lasts 30 minutes; the channel has a comma and a semicolon.
        Event(u"b2"_qs, u"Phoenix, HK; 凤凰"_qs, longTitle, Beijing(10, 23, 30), {}, 0),
        Event(u"c3"_qs, u"北京卫视"_qs, u"夜间新闻"_qs, Beijing(11, 1), Beijing(11, 0),
              60), // end before start
    };
    QTemporaryDir folder;
    const QString path = folder.filePath(u"提醒.ics"_qs);
    WriteCalendar(path, reminders, Beijing(10, 12));
    const QList<QJsonObject> events = ReadBack(path);
    ASSERT_EQ(events.size(), 3);
    const struct {
        const char* uid;
        const char* start;
        const char* end;
        QString summary;
        QString location;
        int trigger;
    } expected[] = {
        {"a1@pelnavi", "2026-12-10T11:00:00+00:00", "2026-12-10T11:31:00+00:00", u"新闻联播"_qs,
         u"CCTV-1 综合"_qs, -300},
        {"b2@pelnavi", "2026-12-10T15:30:00+00:00", "2026-12-10T16:00:00+00:00", longTitle,
         u"Phoenix, HK; 凤凰"_qs, 0},
        {"c3@pelnavi", "2026-12-10T17:00:00+00:00", "2026-12-10T17:30:00+00:00", u"夜间新闻"_qs,
         u"北京卫视"_qs, -3600},
    };
    for (qsizetype i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(expected[i].uid);
        EXPECT_EQ(events[i][u"uid"].toString(), QString::fromUtf8(expected[i].uid));
        EXPECT_EQ(events[i][u"start"].toString(), QString::fromUtf8(expected[i].start));
        EXPECT_EQ(events[i][u"end"].toString(), QString::fromUtf8(expected[i].end));
        EXPECT_EQ(events[i][u"summary"].toString(), expected[i].summary);
        EXPECT_EQ(events[i][u"location"].toString(), expected[i].location);
        EXPECT_EQ(events[i][u"trigger"].toInt(), expected[i].trigger);
    }

    // Every line ends in CRLF and holds at most 75 octets, folded between characters.
    const QByteArray text = ReadAll(path);
    ASSERT_TRUE(text.endsWith("END:VCALENDAR\r\n"));
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].endsWith('\r')) << i;
        EXPECT_LE(lines[i].size() - 1, 75) << lines[i].toStdString();
        EXPECT_TRUE(QString::fromUtf8(lines[i]).toUtf8() == lines[i]) << "a character split at line " << i;
    }
    EXPECT_TRUE(text.contains("\r\n "));
}

} // namespace
