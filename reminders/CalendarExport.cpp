#include "reminders/CalendarExport.h"

#include "update/PackageDownload.h"

#include <QFileInfo>

namespace {

// RFC 5545 3.1: a content line is at most 75 octets; longer ones go on in lines that begin with a
// blank.
constexpr qsizetype kLineOctets = 75;
constexpr qint64 kUnknownEndSecs = qint64(30) * 60;

bool ContinuesCharacter(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// One content line, folded, each piece ended by CRLF. A fold never splits a UTF-8 character.
void AppendLine(QByteArray& out, const QByteArray& line) {
    qsizetype from = 0;
    qsizetype room = kLineOctets;
    while (line.size() - from > room) {
        qsizetype cut = from + room;
        while (cut > from && ContinuesCharacter(line[cut]))
            --cut;
        out += line.mid(from, cut - from);
        out += "\r\n ";
        from = cut;
        room = kLineOctets - 1; // the blank counts
    }
    out += line.mid(from);
    out += "\r\n";
}

// RFC 5545 3.3.11: TEXT escapes backslash, semicolon, comma and line breaks.
QByteArray Text(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            escaped += QStringLiteral("\\\\");
            break;
        case u';':
            escaped += QStringLiteral("\\;");
            break;
        case u',':
            escaped += QStringLiteral("\\,");
            break;
        case u'\n':
            escaped += QStringLiteral("\\n");
            break;
        case u'\r':
            break;
        default:
            escaped += c;
        }
    }
    return escaped.toUtf8();
}

QByteArray UtcTime(const QDateTime& instant) {
    return instant.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
}

QDateTime EndOf(const Reminder& reminder) {
    return reminder.end.isValid() && reminder.end > reminder.start ? reminder.end
                                                                   : reminder.start.addSecs(kUnknownEndSecs);
}

void AppendEvent(QByteArray& out, const Reminder& reminder, const QByteArray& stamp) {
    AppendLine(out, "BEGIN:VEVENT");
    AppendLine(out, "UID:" + Text(reminder.id) + "@pelnavi");
    AppendLine(out, "DTSTAMP:" + stamp);
    AppendLine(out, "DTSTART:" + UtcTime(reminder.start));
    AppendLine(out, "DTEND:" + UtcTime(EndOf(reminder)));
    AppendLine(out, "SUMMARY:" + Text(reminder.title));
    AppendLine(out, "LOCATION:" + Text(reminder.channel));
    AppendLine(out, "BEGIN:VALARM");
    AppendLine(out, "ACTION:DISPLAY");
    AppendLine(out, "DESCRIPTION:" + Text(QStringLiteral("即将播出：") + reminder.title));
    AppendLine(out, "TRIGGER:-PT" + QByteArray::number(reminder.lead) + "M");
    AppendLine(out, "END:VALARM");
    AppendLine(out, "END:VEVENT");
}

} // namespace

QByteArray CalendarText(const QList<Reminder>& reminders, const QDateTime& stamp) {
    QByteArray out;
    AppendLine(out, "BEGIN:VCALENDAR");
    AppendLine(out, "VERSION:2.0");
    AppendLine(out, "PRODID:-//Pelnavi//Pelnavi系统//ZH");
    AppendLine(out, "CALSCALE:GREGORIAN");
    const QByteArray stampText = UtcTime(stamp);
    for (const Reminder& reminder : reminders)
        AppendEvent(out, reminder, stampText);
    AppendLine(out, "END:VCALENDAR");
    return out;
}

void WriteCalendar(const QString& path, const QList<Reminder>& reminders, const QDateTime& stamp) {
    const QFileInfo file(path);
    SavePackage(CalendarText(reminders, stamp), file.absolutePath() + u'/', file.fileName());
}
