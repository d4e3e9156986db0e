#include "catalogue/ScheduleLine.h"

#include <QDate>

#include <array>

namespace {

constexpr char16_t kFullWidthColon = u'：';

// Reads one to `maxDigits` ASCII digits at `pos`.
std::optional<int> ReadNumber(QStringView text, qsizetype& pos, int minDigits, int maxDigits) {
    int value = 0;
    int digits = 0;
    while (pos < text.size() && digits < maxDigits && text[pos] >= u'0' && text[pos] <= u'9') {
        value = value * 10 + (text[pos].unicode() - u'0');
        ++pos;
        ++digits;
    }
    if (digits < minDigits)
        return std::nullopt;
    return value;
}

bool Take(QStringView text, qsizetype& pos, QStringView word) {
    if (!text.sliced(pos).startsWith(word))
        return false;
    pos += word.size();
    return true;
}

void SkipBlanks(QStringView text, qsizetype& pos) {
    while (pos < text.size() && text[pos].isSpace())
        ++pos;
}

// True for the characters a listing's lines mostly begin and end with, none of which is white space:
// ASCII letters, digits and punctuation, and everything above U+3000 (the CJK characters and full-width
// forms; U+3000 itself is the ideographic space). False means: ask Qt.
constexpr bool SurelyNotBlank(char16_t c) {
    return (c > u' ' && c < 0x7F) || c > 0x3000;
}

// QStringView::trimmed, without Qt's call for the usual line or title: one that begins with blanks
// only (a title after its time) and ends in no blank.
QStringView Trimmed(QStringView text) {
    while (!text.isEmpty() && text.front() == u' ')
        text = text.sliced(1);
    if (text.isEmpty() || (SurelyNotBlank(text.front().unicode()) && SurelyNotBlank(text.back().unicode())))
        return text;
    return text.trimmed();
}

bool IsTimeColon(QChar c) {
    return c == u':' || c == kFullWidthColon;
}

// "HH:MM title" or "HH:MM:SS title" (either colon); the title must not be empty.
std::optional<std::pair<QTime, QStringView>> ParseProgrammeLine(QStringView line) {
    qsizetype pos = 0;
    const auto hour = ReadNumber(line, pos, 1, 2);
    if (!hour || pos >= line.size() || !IsTimeColon(line[pos]))
        return std::nullopt;
    ++pos;
    const auto minute = ReadNumber(line, pos, 2, 2);
    if (!minute)
        return std::nullopt;
    int second = 0;
    if (pos + 1 < line.size() && IsTimeColon(line[pos]) && line[pos + 1].isDigit()) {
        ++pos;
        const auto seconds = ReadNumber(line, pos, 2, 2);
        if (!seconds)
            return std::nullopt;
        second = *seconds;
    }
    // "19:000" or "19:00:5" is not a time followed by a title.
    if (pos < line.size() && line[pos] >= u'0' && line[pos] <= u'9')
        return std::nullopt;
    const QTime time(*hour, *minute, second);
    const QStringView title = Trimmed(line.sliced(pos));
    if (!time.isValid() || title.isEmpty())
        return std::nullopt;
    return std::pair{time, title};
}

int ReadWeekday(QStringView text, qsizetype& pos) {
    static constexpr std::array<char16_t, 8> kNames = {u'一', u'二', u'三', u'四',
                                                       u'五', u'六', u'日', u'天'};
    qsizetype at = pos;
    if (!Take(text, at, u"星期") && !Take(text, at, u"周"))
        return 0;
    if (at >= text.size())
        return 0;
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (text[at] == QChar(kNames[i])) {
            pos = at + 1;
            return i < 7 ? static_cast<int>(i) + 1 : 7;
        }
    }
    return 0;
}

// "2026-12-10" (also with "/" or "."), "2026年12月10日", "12月10日"; "日" may be "号".
bool ReadDate(QStringView text, qsizetype& pos, Heading& heading) {
    qsizetype at = pos;
    const auto first = ReadNumber(text, at, 1, 4);
    if (!first)
        return false;
    if (at - pos == 4 && at < text.size() && (text[at] == u'-' || text[at] == u'/' || text[at] == u'.')) {
        const QChar separator = text[at++];
        const auto month = ReadNumber(text, at, 1, 2);
        if (!month || at >= text.size() || text[at] != separator)
            return false;
        ++at;
        const auto day = ReadNumber(text, at, 1, 2);
        if (!day)
            return false;
        heading = {*first, *month, *day, 0};
        pos = at;
        return true;
    }
    int year = 0;
    int month = *first;
    if (at - pos == 4) {
        if (!Take(text, at, u"年"))
            return false;
        year = *first;
        const auto written = ReadNumber(text, at, 1, 2);
        if (!written)
            return false;
        month = *written;
    } else if (at - pos > 2) {
        return false;
    }
    if (!Take(text, at, u"月"))
        return false;
    const auto day = ReadNumber(text, at, 1, 2);
    if (!day || !(Take(text, at, u"日") || Take(text, at, u"号")))
        return false;
    heading = {year, month, *day, 0};
    pos = at;
    return true;
}

std::optional<Heading> ParseHeading(QStringView line) {
    Heading heading;
    qsizetype pos = 0;
    const bool dated = ReadDate(line, pos, heading);
    SkipBlanks(line, pos);
    heading.weekday = ReadWeekday(line, pos);
    SkipBlanks(line, pos);
    if (pos != line.size() || (!dated && heading.weekday == 0))
        return std::nullopt;
    if (dated && (heading.month < 1 || heading.month > 12 || heading.day < 1 || heading.day > 31))
        return std::nullopt;
    if (heading.year != 0 && !QDate(heading.year, heading.month, heading.day).isValid())
        return std::nullopt;
    return heading;
}

} // namespace

ListingLine ReadListingLine(QStringView untrimmed) {
    ListingLine line{Trimmed(untrimmed), std::nullopt, std::nullopt};
    if (line.trimmed.isEmpty())
        return line;
    // Most lines are programmes, and a programme line never reads as a heading (a heading's number
    // is followed by a date mark, not a colon), so the programme is tried first.
    line.programme = ParseProgrammeLine(line.trimmed);
    if (!line.programme)
        line.heading = ParseHeading(line.trimmed);
    return line;
}
