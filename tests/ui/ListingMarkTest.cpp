// What the listing's mark reads of the memo.
#include "ui/ListingMarkSchedule.h"

#include "guide/Guide.h"

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

// The memo's text: line 0 the title, lines parted by LF or U+2028 as the memo's blocks part them.
QString MemoText(const QString& listing) {
    QString text = QStringLiteral("【ZORQ-1 中央】\n") + listing;
    for (qsizetype i = 0, line = 0; i < text.size(); ++i)
        if (text[i] == u'\n' && ++line % 3 != 0)
            text[i] = QChar::LineSeparator;
    return text;
}

// Reading only the days around today marks the same line as the whole schedule, at every quarter
// hour from two days before the listing to three days after it.
TEST(ParseScheduleAround, MarksWhatTheWholeScheduleMarks) {
    QString month;
    for (int day = 1; day <= 28; ++day) {
        month += QStringLiteral("2026-11-%1\n").arg(day, 2, 10, QChar(u'0'));
        for (int hour = 0; hour < 24; hour += 3)
            month += QStringLiteral("%1:00 节目%1\n").arg(hour, 2, 10, QChar(u'0'));
    }
    QString headless = QStringLiteral("本周节目\n");
    for (int minute = 0; minute < 24 * 60; minute += 30)
        headless += QStringLiteral("%1:%2 节目\n").arg(minute / 60).arg(minute % 60, 2, 10, QChar(u'0'));
    const struct {
        const char* what;
        QString listing;
        QDate shownOn; // dates what the headings leave open
        QDate from, to;
    } cases[] = {
        {"nights past midnight, a day without programmes",
         "2026-12-10 星期四\n06:00 朝闻天下\n23:00 晚间新闻\n01:00 午夜剧场\n00:30 重播\n"
         "2026-12-11 星期五\n"
         "2026-12-12 星期六\n06:00 朝闻天下\n19:00 新闻联播\n",
         QDate(2026, 12, 10), QDate(2026, 12, 8), QDate(2026, 12, 15)},
        {"headings without a year, weekdays alone, a note",
         "一周节目预告\n12月9日 星期三\n08:00 新闻\n节目如有变动\n星期四\n08:00 新闻\n22:00 电影\n"
         "周五\n02:00 重播\n08:00 新闻\n",
         QDate(2026, 12, 10), QDate(2026, 12, 7), QDate(2026, 12, 14)},
        {"New Year",
         "12月30日 星期三\n23:00 跨年晚会\n00:30 午夜剧场\n2026-12-31 星期四\n20:00 晚会\n"
         "1月1日 星期五\n06:00 元旦特别节目\n星期六\n06:00 朝闻天下\n",
         QDate(2026, 12, 29), QDate(2026, 12, 28), QDate(2027, 1, 4)},
        {"programmes before the first heading, the same start twice",
         "08:00 早间\n2026-12-10\n08:00 新闻\n08:00 新闻重播\n21:00 电影\n2026-12-10\n23:00 夜话\n",
         QDate(2026, 12, 10), QDate(2026, 12, 8), QDate(2026, 12, 13)},
        {"a listing of last week", "2026-12-01\n06:00 朝闻天下\n2026-12-02\n06:00 朝闻天下\n",
         QDate(2026, 12, 10), QDate(2026, 12, 4), QDate(2026, 12, 12)},
        {"a month, most of it left out", month, QDate(2026, 11, 15), QDate(2026, 10, 30), QDate(2026, 12, 2)},
        {"no headings: nothing marked", headless, QDate(2026, 12, 10), QDate(2026, 12, 8),
         QDate(2026, 12, 12)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString text = MemoText(c.listing);
        const Schedule whole =
            ParseSchedule(QString(text).replace(QChar::LineSeparator, u'\n').split(u'\n'), c.shownOn);
        qsizetype marked = 0;
        for (QDate date = c.from; date <= c.to; date = date.addDays(1)) {
            const Schedule around = ParseScheduleAround(text, c.shownOn, date);
            qsizetype kept = 0;
            for (const ScheduleDay& day : around.days)
                kept += day.programmes.size();
            EXPECT_LE(kept, 40) << date.toString(Qt::ISODate).toStdString();
            for (int minute = 0; minute < 24 * 60; minute += 15) {
                const QDateTime now = ListingInstant(date, QTime(minute / 60, minute % 60));
                SCOPED_TRACE(now.toString(Qt::ISODate).toStdString());
                const Programme* expected = ProgrammeOnAirToday(whole, now);
                const Programme* found = ProgrammeOnAirToday(around, now);
                ASSERT_EQ(found ? found->line : -1, expected ? expected->line : -1);
                if (found) {
                    EXPECT_EQ(found->title, expected->title);
                    ++marked;
                }
            }
        }
        // Each listing but last week's and the one without headings has its programmes marked on
        // some days.
        const QString what = QString::fromUtf8(c.what);
        EXPECT_EQ(marked == 0, what.contains(u"last week") || what.contains(u"no headings"));
    }
}

} // namespace
