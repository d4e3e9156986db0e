// The programme grid's model: boxes from the listings' times, one day's geometry, the keyboard's
// moves and the series read from titles.
#include "guide/GridDay.h"
#include "guide/SeriesTitle.h"

#include "catalogue/CatalogueClasses.h"
#include "catalogue/ListingTime.h"
#include "catalogue/OnAir.h"

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

const QDate kDay(2026, 12, 10);

qint64 At(const QDate& date, int h, int mi) {
    return ListingInstant(date, QTime(h, mi)).toMSecsSinceEpoch();
}

QString TimeText(qint64 instant) {
    return ListingTimeOf(QDateTime::fromMSecsSinceEpoch(instant)).toString(QStringLiteral("dd HH:mm"));
}

GuideChannel Channel(const QString& name, const QString& listing, const QString& className = u"央视频道"_qs) {
    return {name, QStringLiteral("/data/") + name + QStringLiteral(".txt"), className,
            ParseSchedule(listing.split(u'\n'), kDay)};
}

std::shared_ptr<const Guide> GuideOf(QList<GuideChannel> channels) {
    auto guide = std::make_shared<Guide>();
    guide->channels = std::move(channels);
    return guide;
}

// A channel's boxes as "dd HH:mm-dd HH:mm title".
QStringList BoxTexts(std::span<const GridBox> boxes) {
    QStringList texts;
    for (const GridBox& box : boxes)
        texts << TimeText(box.start) + u'-' + TimeText(box.end) + u' ' + box.programme->title;
    return texts;
}

TEST(GridBoxes, RunFromStartToTheNextStart) {
    const struct {
        const char* name;
        const char* listing;
        QStringList boxes;
    } cases[] = {
        {"past midnight into the next date's first programme",
         "2026-12-10\n19:00 新闻联播\n23:30 午夜新闻\n00:30 重播\n2026-12-11\n06:00 朝闻天下\n",
         {"10 19:00-10 23:30 新闻联播", "10 23:30-11 00:30 午夜新闻", "11 00:30-11 06:00 重播",
          "11 06:00-12 00:00 朝闻天下"}},
        {"a day without a next date ends at 24:00, then a gap to the next listed day",
         "2026-12-10\n22:00 晚间新闻\n2026-12-12\n08:00 早间新闻\n",
         {"10 22:00-11 00:00 晚间新闻", "12 08:00-13 00:00 早间新闻"}},
        {"two at one time: the later line stays, as on the on-air list",
         "2026-12-10\n08:00 A\n08:00 B\n09:00 C\n",
         {"10 08:00-10 09:00 B", "10 09:00-11 00:00 C"}},
        {"a next date that starts before the day's last programme: in time order",
         "2026-12-10\n23:00 电影\n02:00 重播\n2026-12-11\n01:00 早场\n",
         {"10 23:00-11 01:00 电影", "11 01:00-11 02:00 早场", "11 02:00-12 00:00 重播"}},
        {"undated days get no boxes", "星期四\n08:00 A\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Schedule schedule = ParseSchedule(QString::fromUtf8(c.listing).split(u'\n'));
        EXPECT_EQ(BoxTexts(ScheduleBoxes(schedule)), c.boxes);
    }
}

// Channels of unequal programmes, as the geometry and the moves below see them:
//   row 0 A: 23:00 (day before) | 06:00 | 08:00 | 12:00 | 20:00
//   row 1 B: 07:00 | 07:30 | 09:00
//   row 2 C: nothing this day (a class of its own would leave it out)
//   row 3 D: 00:00 | 08:30 | 23:00 (to 02:00 the next day)
class GridDayTest : public ::testing::Test {
protected:
    GridDayTest()
        : grid_(GuideOf({Channel(u"A"_qs, u"2026-12-09\n23:00 昨夜电影\n2026-12-10\n06:00 A1\n08:00 A2\n"
                                          u"12:00 A3\n20:00 A4\n2026-12-11\n00:00 明天"_qs),
                         Channel(u"B"_qs, u"2026-12-10\n07:00 B1\n07:30 B2\n09:00 B3\n"_qs, u"地方频道"_qs),
                         Channel(u"C"_qs, u"2026-12-08\n07:00 旧节目\n"_qs),
                         Channel(u"D"_qs, u"2026-12-10\n00:00 D1\n08:30 D2\n23:00 D3\n02:00 D4\n"_qs)})) {}
    GridDay Day(int slotWidth = 100) const { return GridDay(grid_, kDay, u"所有频道"_qs, {slotWidth, 20}); }
    QString TitleAt(const GridDay& day, const GridPlace& place) const {
        return day.Channel(place.row).displayName + u' ' + day.Box(place).programme->title;
    }

    GuideGrid grid_;
};

TEST_F(GridDayTest, BoxRectanglesFromTheTimesAtAnyZoom) {
    const struct {
        int slotWidth;
        GridPlace place;
        QRect rect;
    } cases[] = {
        // 100 pixels every half hour: 06:00 is x 1200.
        {100, {0, 0}, {0, 0, 1200, 20}},     // begun the day before: cut at midnight
        {100, {0, 1}, {1200, 0, 400, 20}},   // 06:00-08:00
        {100, {1, 1}, {1500, 20, 300, 20}},  // 07:30-09:00
        {100, {1, 2}, {1800, 20, 3000, 20}}, // 09:00 to 24:00: no next date
        {100, {3, 2}, {4600, 60, 200, 20}},  // 23:00 to 02:00 the next day: cut at midnight
        {25, {0, 1}, {300, 0, 100, 20}},     // zoomed out
        {7, {1, 1}, {105, 20, 21, 20}},      // pixels that do not divide the half hour
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.slotWidth << " row " << c.place.row << " box " << c.place.box);
        const GridDay day = Day(c.slotWidth);
        EXPECT_EQ(day.BoxRect(c.place), c.rect);
        EXPECT_EQ(day.Width(), 48 * c.slotWidth);
        const QRect rect = day.BoxRect(c.place);
        EXPECT_EQ(day.PlaceAt(rect.topLeft()), c.place);
        EXPECT_EQ(day.PlaceAt(rect.bottomRight()), c.place);
    }
    const GridDay day = Day();
    EXPECT_EQ(day.RowCount(), 4);
    EXPECT_EQ(day.RowBoxes(2).size(), 0u);
    EXPECT_EQ(day.MostBoxes(), 5);
    EXPECT_EQ(day.PlaceAt({100, 50}), std::nullopt) << "row C is empty";
    EXPECT_EQ(day.PlaceAt({100, 80}), std::nullopt) << "below the last row";

    const QList<RulerMark> marks = day.RulerMarks(0, day.Width());
    ASSERT_EQ(marks.size(), 48);
    EXPECT_EQ(marks[0].label, u"00:00"_qs);
    EXPECT_EQ(marks[13].label, u"06:30"_qs);
    EXPECT_EQ(marks[13].x, 1300);
    EXPECT_FALSE(marks[13].hour);
    EXPECT_TRUE(marks[14].hour);
    EXPECT_EQ(day.RulerMarks(1250, 1450).size(), 3)
        << "the marks in view and the one before, whose label shows";

    const auto [first, last] = day.BoxesBetween(0, 1300, 1700);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(last, 3);
    EXPECT_EQ(day.RowsBetween(25, 41), std::make_pair(qsizetype(1), qsizetype(3)));

    // A class keeps its own channels only.
    const GridDay provincial(grid_, kDay, u"地方频道"_qs);
    ASSERT_EQ(provincial.RowCount(), 1);
    EXPECT_EQ(provincial.Channel(0).displayName, u"B"_qs);
    EXPECT_EQ(provincial.RowOfChannel(0), std::nullopt);
    EXPECT_EQ(provincial.RowOfChannel(1), 0);
}

TEST_F(GridDayTest, TheNowLineAndTheHighlightAtFixedInstants) {
    const GridDay day = Day();
    const struct {
        int h, mi;
        int x;
        BoxTime a2; // A2 runs 08:00-08:00
    } cases[] = {
        {7, 59, 1596, BoxTime::Later},
        {8, 0, 1600, BoxTime::OnAir},
        {11, 59, 2396, BoxTime::OnAir},
        {12, 0, 2400, BoxTime::Past},
    };
    for (const auto& c : cases) {
        const qint64 now = At(kDay, c.h, c.mi);
        EXPECT_EQ(day.XOf(now), c.x);
        EXPECT_EQ(BoxTimeAt(day.Box({0, 2}), now), c.a2) << c.h << ":" << c.mi;
    }
    // The programme begun the day before is on air just after midnight.
    EXPECT_EQ(BoxTimeAt(day.Box({0, 0}), At(kDay, 0, 5)), BoxTime::OnAir);
}

TEST_F(GridDayTest, KeyboardMovesOverChannelsOfUnequalProgrammes) {
    const GridDay day = Day();
    const struct {
        GridPlace from;
        GridMove move;
        qsizetype pageRows;
        const char* to;
    } cases[] = {
        {{0, 1}, GridMove::Left, 1, "A 昨夜电影"},
        {{0, 0}, GridMove::Left, 1, "A 昨夜电影"}, // stays at the edge
        {{0, 1}, GridMove::Right, 1, "A A2"},
        {{0, 4}, GridMove::Right, 1, "A A4"},
        {{0, 2}, GridMove::Home, 1, "A 昨夜电影"},
        {{0, 2}, GridMove::End, 1, "A A4"},
        {{0, 2}, GridMove::Down, 1, "B B2"},     // on at 08:00
        {{1, 2}, GridMove::Down, 1, "D D2"},     // over the empty row C, on at 09:00
        {{1, 0}, GridMove::Up, 1, "A A1"},       // 07:00 lies in A1
        {{0, 1}, GridMove::Up, 1, "A A1"},       // the top
        {{3, 0}, GridMove::Down, 1, "D D1"},     // the bottom
        {{0, 0}, GridMove::Down, 1, "B B1"},     // from midnight, not from the day before: nothing
                                                 // on air, the next to start
        {{0, 4}, GridMove::Down, 1, "B B3"},     // 20:00: B3 runs to 24:00
        {{3, 1}, GridMove::Up, 1, "B B2"},       // 08:30 in B2 (07:30-09:00)
        {{0, 1}, GridMove::PageDown, 2, "D D1"}, // two rows down is C, empty: the next row on
        {{0, 1}, GridMove::PageDown, 3, "D D1"},
        {{0, 1}, GridMove::PageDown, 10, "D D1"},
        {{3, 1}, GridMove::PageUp, 10, "A A2"},
        {{3, 1}, GridMove::PageUp, 1, "B B2"}, // C is empty: the next row towards the start
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "from row " << c.from.row << " box " << c.from.box << " move "
                                        << static_cast<int>(c.move) << " page " << c.pageRows);
        EXPECT_EQ(TitleAt(day, day.Move(c.from, c.move, c.pageRows)), QString::fromUtf8(c.to));
    }
    EXPECT_EQ(TitleAt(day, *day.NearFrom(2, At(kDay, 9, 0))), u"D D2"_qs) << "the first row with boxes";
    EXPECT_EQ(TitleAt(day, *day.BoxNear(1, At(kDay, 23, 0))), u"B B3"_qs);
    EXPECT_EQ(day.PlaceOf(3, day.Box({3, 2}).programme), (GridPlace{3, 2}));
    EXPECT_EQ(day.PlaceOf(3, day.Box({0, 2}).programme), std::nullopt);
}

// Hundreds of channels shaped like a real feed's: Latin and Chinese names, the same shows over and
// over, programmes past midnight, odd minutes, lines out of order and two at one time. The grid's
// programme on air must be the one the on-air page shows, at every quarter hour of every day.
TEST(GridOfAFeed, OnAirAgreesWithTheOnAirListAndBoxesNeverOverlap) {
    const QStringList names = {u"CCTV-1 综合"_qs, u"Hunan TV"_qs, u"湖南卫视"_qs, u"BBC World News"_qs,
                               u"凤凰卫视中文台"_qs};
    const QStringList shows = {u"新闻联播"_qs, u"Evening News"_qs, u"电视剧：山海情长(12)"_qs, u"天气预报"_qs,
                               u"NBA常规赛：湖人vs勇士"_qs};
    QList<GuideChannel> channels;
    for (int c = 0; c < 300; ++c) {
        QString listing = names[c % names.size()] + QStringLiteral(" 一周节目预告\n");
        for (int d = 0; d < 4; ++d) {
            listing += kDay.addDays(d).toString(u"yyyy-MM-dd\n"_qs);
            for (int p = 0; p < 30 + c % 7; ++p) {
                // Minutes that wander; a channel in seven runs past midnight; one in eleven lists two
                // programmes at one time; one in thirteen writes a line out of order.
                const int minute = 5 * 60 + p * (37 + c % 5) + (p * c) % 3;
                listing += QStringLiteral("%1:%2 %3\n")
                               .arg(minute / 60 % 24, 2, 10, QChar(u'0'))
                               .arg(minute % 60, 2, 10, QChar(u'0'))
                               .arg(shows[(p + c) % shows.size()]);
                if (c % 11 == 0 && p == 3)
                    listing += QStringLiteral("%1:%2 重复\n")
                                   .arg(minute / 60 % 24, 2, 10, QChar(u'0'))
                                   .arg(minute % 60, 2, 10, QChar(u'0'));
                if (c % 13 == 0 && p == 5)
                    listing += u"04:10 倒序\n"_qs;
            }
            if (c % 7 == 0)
                listing += u"00:15 午夜剧场\n01:40 重播\n"_qs;
        }
        channels.append(Channel(names[c % names.size()] + QString::number(c), listing,
                                QString::fromUtf16(kClassFolderNames[c % 4])));
    }
    const GuideGrid grid(GuideOf(channels));
    ASSERT_EQ(grid.Dates().size(), 4);
    for (qsizetype channel = 0; channel < grid.ChannelCount(); ++channel) {
        const std::span<const GridBox> boxes = grid.Boxes(channel);
        for (size_t i = 0; i < boxes.size(); ++i) {
            ASSERT_LT(boxes[i].start, boxes[i].end);
            if (i > 0) {
                ASSERT_LE(boxes[i - 1].end, boxes[i].start) << channel;
            }
        }
    }
    for (int d = 0; d < 4; ++d) {
        const GridDay day(grid, kDay.addDays(d), u"所有频道"_qs);
        ASSERT_EQ(day.RowCount(), 300);
        for (qsizetype row = 0; row < day.RowCount(); ++row) {
            const Schedule& schedule = day.Channel(row).schedule;
            for (int minute = 0; minute < 24 * 60; minute += 15) {
                const qint64 now = At(day.Date(), minute / 60, minute % 60);
                const std::optional<GridPlace> place = day.BoxNear(row, now);
                const Programme* shown = place && BoxTimeAt(day.Box(*place), now) == BoxTime::OnAir
                                             ? day.Box(*place).programme
                                             : nullptr;
                ASSERT_EQ(shown, FindOnAir(schedule, QDateTime::fromMSecsSinceEpoch(now)).current)
                    << day.Channel(row).displayName.toStdString() << " " << TimeText(now).toStdString();
            }
        }
    }
}

TEST(SeriesTitle, SeriesAndEpisodeFromTheWaysListingsWriteThem) {
    const struct {
        const char* title;
        std::optional<SeriesEpisode> series;
    } cases[] = {
        {"山海情长(21)", SeriesEpisode{u"山海情长"_qs, 21}},
        {"山海情长（21）", SeriesEpisode{u"山海情长"_qs, 21}},
        {"山海情长[21]", SeriesEpisode{u"山海情长"_qs, 21}},
        {"山海情长 第21集", SeriesEpisode{u"山海情长"_qs, 21}},
        {"山海情长第3集", SeriesEpisode{u"山海情长"_qs, 3}},
        {"黄金剧场:山海情长(21)", SeriesEpisode{u"山海情长"_qs, 21}},
        {"电视剧：大宅门(12)", SeriesEpisode{u"大宅门"_qs, 12}},
        {"新闻30分", std::nullopt},
        {"2046", std::nullopt},
        // A bare number at the end is a sequel's, not an episode.
        {"山海情长 2", std::nullopt},
        {"唐人街探案3", std::nullopt},
        {"天气预报", std::nullopt},
        {"足球之夜(上)", std::nullopt},
        {"(21)", std::nullopt},
        {"NBA常规赛：湖人vs勇士", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const std::optional<SeriesEpisode> found = SeriesOfTitle(QString::fromUtf8(c.title));
        ASSERT_EQ(found.has_value(), c.series.has_value());
        if (found) {
            EXPECT_EQ(found->series, c.series->series);
            EXPECT_EQ(found->episode, c.series->episode);
        }
    }
}

} // namespace
