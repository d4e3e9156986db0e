#include "catalogue/Schedule.h"

#include "catalogue/ListingFile.h"
#include "catalogue/OnAir.h"
#include "tests/support/EncodeGbk.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

QStringList Lines(std::initializer_list<const char16_t*> lines) {
    QStringList result;
    for (const char16_t* line : lines)
        result.append(QString::fromUtf16(line));
    return result;
}

QByteArray ToUtf16LeWithMark(const QString& text) {
    QByteArray bytes("\xFF\xFE");
    for (QChar unit : text)
        bytes.append(static_cast<char>(unit.unicode() & 0xFF)).append(static_cast<char>(unit.unicode() >> 8));
    return bytes;
}

QDateTime At(int y, int mo, int d, int h, int mi, int s = 0) {
    return ListingInstant(QDate(y, mo, d), QTime(h, mi, s));
}

// The same instant as a schedule keeps it.
qint64 MSecs(int y, int mo, int d, int h, int mi) {
    return At(y, mo, d, h, mi).toMSecsSinceEpoch();
}

// A listing shaped like the sample package's, over midnight of a day change.
const char16_t kDemoListing[] = u"ZORQ-1 中央 一周节目预告\n"
                                u"\n"
                                u"2026-12-10 星期四\n"
                                u"06:00 朝闻天下\n"
                                u"19:00 新闻联播\n"
                                u"22:00 晚间新闻\n"
                                u"\n"
                                u"2026-12-11 星期五\n"
                                u"06:00 朝闻天下\n"
                                u"09:00 电视剧：山海情长(12)\n";

TEST(ParseSchedule, DemoListingInEveryEncodingAndLineEnd) {
    const QString text = QString::fromUtf16(kDemoListing);
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"code page 936, CR LF", EncodeGbk(QString(text).replace(QChar(u'\n'), u"\r\n"_qs))},
        {"UTF-8 with its mark, LF", QByteArray("\xEF\xBB\xBF") + text.toUtf8()},
        {"UTF-16 LE with its mark, CR", ToUtf16LeWithMark(QString(text).replace(QChar(u'\n'), QChar(u'\r')))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Schedule fromLines = ParseSchedule(DecodeListing(c.bytes));
        const Schedule fromText = ParseScheduleText(DecodeListingText(c.bytes), {});
        for (const Schedule* schedule : {&fromLines, &fromText}) {
            EXPECT_EQ(schedule->preamble, Lines({u"ZORQ-1 中央 一周节目预告"}));
            ASSERT_EQ(schedule->days.size(), 2);
            const ScheduleDay& first = schedule->days[0];
            EXPECT_EQ(first.date, QDate(2026, 12, 10));
            EXPECT_EQ(first.heading, u"2026-12-10 星期四"_qs);
            ASSERT_EQ(first.programmes.size(), 3);
            EXPECT_EQ(first.programmes[1].title, u"新闻联播"_qs);
            EXPECT_EQ(first.programmes[1].line, 4);
            EXPECT_EQ(first.programmes[1].start, MSecs(2026, 12, 10, 19, 0));
            EXPECT_EQ(first.programmes[1].stop, MSecs(2026, 12, 10, 22, 0));
            // The last of a day ends where the next day begins.
            EXPECT_EQ(first.programmes[2].stop, MSecs(2026, 12, 11, 6, 0));
            const ScheduleDay& second = schedule->days[1];
            EXPECT_EQ(second.date, QDate(2026, 12, 11));
            ASSERT_EQ(second.programmes.size(), 2);
            EXPECT_EQ(second.programmes[1].title, u"电视剧：山海情长(12)"_qs);
            EXPECT_EQ(second.programmes[1].line, 9);
            EXPECT_EQ(second.programmes[1].stop, std::nullopt);
            EXPECT_TRUE(first.notes.isEmpty() && second.notes.isEmpty());
        }
    }
}

// Listings keep Beijing time where the machine's clocks change: on the nights of a change in
// Central Europe, a time that the machine's clock skips or passes twice is one instant, eight hours
// ahead of UTC like every other.
TEST(ParseSchedule, DaysWhenTheMachinesClocksChange) {
    const ScopedVariable zone("TZ", QByteArray("CET-1CEST,M3.5.0,M10.5.0/3"));
    ::tzset();
    const Schedule schedule =
        ParseScheduleText(u"2026-03-28\n23:00 电影\n2026-03-29\n01:30 夜间新闻\n02:30 天气\n03:30 早间新闻\n"
                          u"2026-10-25\n01:30 夜间新闻\n02:30 天气\n03:30 早间新闻\n",
                          {});
    const struct {
        const Programme& programme;
        const char* utc;
    } cases[] = {
        {schedule.days[0].programmes[0], "2026-03-28T15:00:00Z"},
        {schedule.days[1].programmes[0], "2026-03-28T17:30:00Z"},
        {schedule.days[1].programmes[1], "2026-03-28T18:30:00Z"}, // skipped by the machine's clock
        {schedule.days[1].programmes[2], "2026-03-28T19:30:00Z"},
        {schedule.days[2].programmes[0], "2026-10-24T17:30:00Z"},
        {schedule.days[2].programmes[1], "2026-10-24T18:30:00Z"}, // passed twice by the machine's clock
        {schedule.days[2].programmes[2], "2026-10-24T19:30:00Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utc);
        EXPECT_EQ(c.programme.StartTime().toUTC(),
                  QDateTime::fromString(QString::fromLatin1(c.utc), Qt::ISODate));
        EXPECT_EQ(c.programme.StartTime().time(), c.programme.time);
    }
    // The weather runs its hour on both nights.
    EXPECT_EQ(*schedule.days[1].programmes[1].stop - schedule.days[1].programmes[1].start, 3600'000);
    EXPECT_EQ(*schedule.days[2].programmes[1].stop - schedule.days[2].programmes[1].start, 3600'000);
}

TEST(ParseSchedule, LineForms) {
    // Each line after the dated heading "2026-12-10": what it is read as.
    const struct {
        const char16_t* line;
        std::optional<QDate> heading;   // a day heading with this date
        std::optional<QTime> programme; // else a programme at this time
        const char16_t* title;
    } cases[] = {
        {u"2027-01-05 星期二", QDate(2027, 1, 5), {}, u""},
        {u"2027-01-05星期二", QDate(2027, 1, 5), {}, u""},
        {u"2027-1-5", QDate(2027, 1, 5), {}, u""},
        {u"2027/01/05 周二", QDate(2027, 1, 5), {}, u""},
        {u"2027年1月5日 星期二", QDate(2027, 1, 5), {}, u""},
        {u"12月12日 星期六", QDate(2026, 12, 12), {}, u""},
        {u"  12月12日星期六  ", QDate(2026, 12, 12), {}, u""},
        {u"12月12号", QDate(2026, 12, 12), {}, u""},
        {u"星期六", QDate(2026, 12, 12), {}, u""},
        {u"星期日", QDate(2026, 12, 13), {}, u""},
        {u"周四", QDate(2026, 12, 17), {}, u""},
        {u"19:30 焦点访谈", std::nullopt, QTime(19, 30), u"焦点访谈"},
        {u"7:05 早间新闻", std::nullopt, QTime(7, 5), u"早间新闻"},
        {u"19：30 焦点访谈", std::nullopt, QTime(19, 30), u"焦点访谈"},
        {u"19:30:15 天气预报", std::nullopt, QTime(19, 30, 15), u"天气预报"},
        {u"19:30\t天气 预报 ", std::nullopt, QTime(19, 30), u"天气 预报"},
        {u"19:30新闻1+1", std::nullopt, QTime(19, 30), u"新闻1+1"},
        {u"　19:30　焦点访谈", std::nullopt, QTime(19, 30), u"焦点访谈"},
        // Blanks at the end that are not ASCII: the ideographic space, a no-break space.
        {u"19:30 焦点访谈　", std::nullopt, QTime(19, 30), u"焦点访谈"},
        {u"19:30 焦点访谈\u00A0", std::nullopt, QTime(19, 30), u"焦点访谈"},
        {u"24:00 午夜剧场", {}, {}, u""},
        {u"19:60 焦点访谈", {}, {}, u""},
        {u"19:30", {}, {}, u""},
        {u"19:300 焦点访谈", {}, {}, u""},
        {u"2026-13-01", {}, {}, u""},
        {u"2026-02-30 星期一", {}, {}, u""},
        {u"星期八", {}, {}, u""},
        {u"本周节目如有变动，以实际播出为准", {}, {}, u""},
        {u"\u2003本周节目如有变动\u2003", {}, {}, u""},
        {u"12月12日 元旦晚会", {}, {}, u""},
    };
    for (const auto& c : cases) {
        const QString line = QString::fromUtf16(c.line);
        SCOPED_TRACE(line.toStdString());
        const Schedule schedule = ParseSchedule({u"2026-12-10 星期四"_qs, line});
        ASSERT_FALSE(schedule.days.isEmpty());
        const ScheduleDay& last = schedule.days.last();
        if (c.heading) {
            ASSERT_EQ(schedule.days.size(), 2);
            EXPECT_EQ(last.date, *c.heading);
            EXPECT_EQ(last.heading, line.trimmed());
        } else if (c.programme) {
            ASSERT_EQ(schedule.days.size(), 1);
            ASSERT_EQ(last.programmes.size(), 1);
            EXPECT_EQ(last.programmes[0].time, *c.programme);
            EXPECT_EQ(last.programmes[0].StartTime(), ListingInstant(QDate(2026, 12, 10), *c.programme));
            EXPECT_EQ(last.programmes[0].title, QString::fromUtf16(c.title));
        } else {
            ASSERT_EQ(schedule.days.size(), 1);
            EXPECT_TRUE(last.programmes.isEmpty());
            EXPECT_EQ(last.notes, QStringList{line.trimmed()});
        }
    }
}

TEST(ParseSchedule, YearsRollOverAtNewYearAndNightsRunPastMidnight) {
    const Schedule schedule = ParseSchedule(Lines({
        u"12月30日 星期三", // before the first heading with a year: nearest to it
        u"23:00 跨年晚会",
        u"00:30 午夜剧场", // after midnight: the next date
        u"2026-12-31 星期四",
        u"1月1日 星期五",
        u"06:00 元旦特别节目",
        u"节目如有变动，以实际播出为准",
        u"星期六",
        u"06:00 朝闻天下",
    }));
    ASSERT_EQ(schedule.days.size(), 4);
    EXPECT_EQ(schedule.days[0].date, QDate(2026, 12, 30));
    EXPECT_EQ(schedule.days[0].programmes[1].start, MSecs(2026, 12, 31, 0, 30));
    EXPECT_EQ(schedule.days[0].programmes[0].stop, MSecs(2026, 12, 31, 0, 30));
    // The next listed day follows directly but has no programmes: the night stays open.
    EXPECT_EQ(schedule.days[0].programmes[1].stop, std::nullopt);
    EXPECT_EQ(schedule.days[2].date, QDate(2027, 1, 1));
    EXPECT_EQ(schedule.days[2].notes, Lines({u"节目如有变动，以实际播出为准"}));
    EXPECT_EQ(schedule.days[2].programmes[0].stop, MSecs(2027, 1, 2, 6, 0));
    EXPECT_EQ(schedule.days[3].date, QDate(2027, 1, 2));
}

TEST(ParseSchedule, ListingsWithoutDates) {
    const QStringList noHeadings = Lines({u"今日节目", u"08:00 新闻", u"09:30 天气"});
    const Schedule undated = ParseSchedule(noHeadings);
    EXPECT_EQ(undated.preamble, Lines({u"今日节目"}));
    ASSERT_EQ(undated.days.size(), 1);
    EXPECT_FALSE(undated.days[0].date.isValid());
    EXPECT_TRUE(undated.days[0].heading.isEmpty());
    ASSERT_EQ(undated.days[0].programmes.size(), 2);
    EXPECT_EQ(undated.days[0].programmes[0].time, QTime(8, 0));
    EXPECT_FALSE(undated.days[0].programmes[0].Dated());
    EXPECT_EQ(undated.days[0].programmes[0].stop, std::nullopt);

    const Schedule dated = ParseSchedule(noHeadings, QDate(2026, 12, 10));
    EXPECT_EQ(dated.days[0].programmes[0].start, MSecs(2026, 12, 10, 8, 0));
    EXPECT_EQ(dated.days[0].programmes[0].stop, MSecs(2026, 12, 10, 9, 30));

    // Headings without a year take it from the fallback date; a weekday alone needs a date before.
    const Schedule yearless =
        ParseSchedule(Lines({u"星期一", u"08:00 新闻", u"1月2日", u"08:00 新闻"}), QDate(2026, 12, 28));
    ASSERT_EQ(yearless.days.size(), 2);
    EXPECT_FALSE(yearless.days[0].date.isValid());
    EXPECT_EQ(yearless.days[1].date, QDate(2027, 1, 2));
    EXPECT_EQ(ParseSchedule({u"1月2日"_qs}).days[0].date, QDate());
}

TEST(FindOnAir, CurrentAndNext) {
    const Schedule schedule = ParseSchedule(QString::fromUtf16(kDemoListing).split(u'\n'));
    const struct {
        QDateTime at;
        const char16_t* current; // nullptr: nothing on air
        const char16_t* next;    // nullptr: nothing to come
    } cases[] = {
        {At(2026, 12, 10, 5, 59), nullptr, u"朝闻天下"},
        {At(2026, 12, 10, 6, 0), u"朝闻天下", u"新闻联播"},
        {At(2026, 12, 10, 18, 59, 59), u"朝闻天下", u"新闻联播"},
        {At(2026, 12, 11, 2, 0), u"晚间新闻", u"朝闻天下"},
        {At(2026, 12, 11, 23, 59), u"电视剧：山海情长(12)", nullptr},
        // The last programme has no stop: on air until the midnight after its start.
        {At(2026, 12, 12, 0, 0), nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.at.toString(Qt::ISODate).toStdString());
        const OnAir onAir = FindOnAir(schedule, c.at);
        EXPECT_EQ(onAir.current ? onAir.current->title : QString(), QString::fromUtf16(c.current));
        EXPECT_EQ(onAir.next ? onAir.next->title : QString(), QString::fromUtf16(c.next));
    }
    EXPECT_EQ(FindOnAir(schedule, At(2026, 12, 10, 6, 0)).next, &schedule.days[0].programmes[1]);
}

// The day that a programme without a stop ends with is the listings' day, not UTC's: 00:30 in
// Beijing is still the evening before in UTC.
TEST(FindOnAir, ALastProgrammeRunsToTheListingsMidnight) {
    const struct {
        const char16_t* listing;
        qint64 end;
    } cases[] = {
        {u"2026-12-10\n00:30 夜间新闻\n", MSecs(2026, 12, 11, 0, 0)},
        {u"2026-12-10\n07:59 早间新闻\n", MSecs(2026, 12, 11, 0, 0)},
        {u"2026-12-10\n08:00 午间新闻\n", MSecs(2026, 12, 11, 0, 0)},
        {u"2026-12-10\n23:30 晚间新闻\n", MSecs(2026, 12, 11, 0, 0)},
        {u"1969-12-31\n06:00 早间新闻\n", MSecs(1970, 1, 1, 0, 0)},
    };
    for (const auto& c : cases) {
        const Schedule schedule = ParseScheduleText(QStringView(c.listing), {});
        SCOPED_TRACE(QString::fromUtf16(c.listing).toStdString());
        ASSERT_EQ(schedule.days.size(), 1);
        EXPECT_EQ(EndOf(schedule.days[0].programmes[0]), c.end);
    }
}

} // namespace
