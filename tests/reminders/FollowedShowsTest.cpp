// A followed show: its airings with series and episode, and the reminders "自动提醒" makes.
#include "reminders/FollowedShows.h"

#include "tests/reminders/ReminderTestGuide.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

class FollowedShowsTest : public ::testing::Test {
protected:
    FollowedShowsTest()
        : guide_(std::make_shared<const Guide>(GuideOf({
              {u"CCTV-8 电视剧"_qs,
               {u"2026-12-10 星期四"_qs, u"09:00 山海情长(20)"_qs, u"09:50 今日说法"_qs,
                u"19:30 黄金剧场:山海情长(21)"_qs, u"20:20 黄金剧场:山海情长(22)"_qs, u"2026-12-11 星期五"_qs,
                u"09:00 山海情长(21)"_qs, u"09:50 今日说法"_qs, u"19:30 黄金剧场:山海情长(23)"_qs}},
              {u"北京卫视"_qs, {u"2026-12-10 星期四"_qs, u"21:00 山海情长 第21集"_qs}},
          }))),
          search_(guide_, pinyin_) {}

    QList<Airing> Airings(const FollowedShow& show) { return AiringsOf(show, search_, now_, keys_); }
    QStringList Titles(const QList<Reminder>& reminders) {
        QStringList titles;
        for (const Reminder& reminder : reminders)
            titles.append(reminder.channel + u' ' + ListingTimeOf(reminder.start).toString(u"dd HH:mm"));
        return titles;
    }

    const QDateTime now_ = Beijing(10, 12);
    PinyinCache pinyin_;
    std::shared_ptr<const Guide> guide_;
    GuideSearch search_;
    ChannelKeys keys_;
};

TEST_F(FollowedShowsTest, AiringsComeUpcomingFirstWithTheirEpisodes) {
    const QList<Airing> airings = Airings(Follow(u"shanhai"_qs));
    ASSERT_EQ(airings.size(), 6);
    EXPECT_TRUE(airings.last().past); // this morning's
    EXPECT_EQ(airings.last().episode, (SeriesEpisode{u"山海情长"_qs, 20}));
    EXPECT_FALSE(airings[0].past);
    EXPECT_EQ(airings[0].episode, (SeriesEpisode{u"山海情长"_qs, 21}));
    EXPECT_EQ(airings[0].programme->StartTime(), Beijing(10, 19, 30));
    EXPECT_EQ(guide_->channels[airings[2].channel].displayName, u"北京卫视"_qs);
    EXPECT_EQ(airings[2].episode, (SeriesEpisode{u"山海情长"_qs, 21}));

    // On one channel, named another way.
    const FollowedShow onOne = FollowOn(u"山海情长"_qs, u"北京卫视"_qs, keys_.KeyOf(u"北京衛視 HD"_qs));
    ASSERT_EQ(Airings(onOne).size(), 1);
}

TEST_F(FollowedShowsTest, AutomaticRemindersForNewEpisodesOrEveryAiring) {
    const struct {
        const char* name;
        AutoRemind mode;
        QStringList reminded;
    } cases[] = {
        // Episode 21 airs three times: only its first airing; 20 aired this morning.
        {"新集",
         AutoRemind::NewEpisodes,
         {u"CCTV-8 电视剧 10 19:30"_qs, u"CCTV-8 电视剧 10 20:20"_qs, u"CCTV-8 电视剧 11 19:30"_qs}},
        {"全部",
         AutoRemind::Every,
         {u"CCTV-8 电视剧 10 19:30"_qs, u"CCTV-8 电视剧 10 20:20"_qs, u"北京卫视 10 21:00"_qs,
          u"CCTV-8 电视剧 11 09:00"_qs, u"CCTV-8 电视剧 11 19:30"_qs}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FollowedShow show = Follow(u"山海情长"_qs, true, c.mode);
        const QList<Reminder> made = AutomaticReminders(show, Airings(show), *guide_, {}, 10, now_, keys_);
        EXPECT_EQ(Titles(made), c.reminded);
        EXPECT_EQ(made[0].lead, 10);
        EXPECT_EQ(made[0].end, Beijing(10, 20, 20));
        // The next update makes none again.
        EXPECT_TRUE(AutomaticReminders(show, Airings(show), *guide_, made, 10, now_, keys_).isEmpty());
    }
    // "新集" remembers what it reminded of: after the person removes the reminders, a repeat of
    // episode 21 next update is still no new one.
    FollowedShow show = Follow(u"山海情长"_qs, true);
    AutomaticReminders(show, Airings(show), *guide_, {}, 5, now_, keys_);
    EXPECT_TRUE(AutomaticReminders(show, Airings(show), *guide_, {}, 5, now_, keys_).isEmpty());
    FollowedShow off = Follow(u"山海情长"_qs);
    EXPECT_TRUE(AutomaticReminders(off, Airings(off), *guide_, {}, 5, now_, keys_).isEmpty());
}

} // namespace
