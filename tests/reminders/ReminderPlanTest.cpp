// When reminders fire, with the clock passed in: the leads, a restart between setting and firing,
// a missed one, and programmes that an update moves or removes.
#include "reminders/ReminderPlan.h"

#include "reminders/ReminderStore.h"
#include "tests/reminders/ReminderTestGuide.h"
#include "tests/support/QtPrinters.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

Reminder ReminderAt(const QDateTime& start, int lead, const QString& title = u"新闻联播"_qs) {
    Reminder reminder;
    reminder.id = NewReminderId();
    reminder.channel = u"CCTV-1"_qs;
    reminder.channelKey = u"cctv1"_qs;
    reminder.title = title;
    reminder.start = start;
    reminder.lead = lead;
    return reminder;
}

enum class Expect { Waits, Fires, Missed };

TEST(DecideReminders, ATableOfLeadsAndMoments) {
    const QDateTime start = Beijing(10, 19);
    const struct {
        const char* name;
        int lead;
        QDateTime now;
        Expect expect;
    } cases[] = {
        {"five minutes, a minute early", 5, Beijing(10, 18, 54), Expect::Waits},
        {"five minutes, at its time", 5, Beijing(10, 18, 55), Expect::Fires},
        {"an hour, at its time", 60, Beijing(10, 18), Expect::Fires},
        {"an hour, a second early", 60, Beijing(10, 18).addSecs(-1), Expect::Waits},
        {"no lead, at the start", 0, start, Expect::Fires},
        {"a timer late by four minutes still fires", 10, start.addSecs(qint64(4) * 60), Expect::Fires},
        {"the programme began too long ago", 10, start.addSecs(kReminderLateSecs), Expect::Missed},
        {"a day later", 1, Beijing(11, 19), Expect::Missed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ReminderDecision decision = DecideReminders({ReminderAt(start, c.lead)}, c.now);
        EXPECT_EQ(decision.fire.size(), c.expect == Expect::Fires ? 1 : 0);
        EXPECT_EQ(decision.missed.size(), c.expect == Expect::Missed ? 1 : 0);
    }
}

TEST(DecideReminders, OnlyWaitingRemindersFireAndTheNextFiringIsTheEarliest) {
    QList<Reminder> reminders = {ReminderAt(Beijing(10, 20), 5), ReminderAt(Beijing(10, 19), 30),
                                 ReminderAt(Beijing(10, 18), 0)};
    reminders[2].state = ReminderState::Fired;
    const QDateTime now = Beijing(10, 12);
    EXPECT_EQ(NextFiring(reminders, now), Beijing(10, 18, 30));
    EXPECT_TRUE(DecideReminders(reminders, Beijing(10, 18, 5)).fire.isEmpty());
    // One whose time passed while the timer slept fires at once.
    EXPECT_EQ(NextFiring(reminders, Beijing(10, 18, 40)), Beijing(10, 18, 40));
    reminders[0].state = ReminderState::Missed;
    reminders[1].state = ReminderState::Changed;
    EXPECT_EQ(NextFiring(reminders, now), std::nullopt);
}

TEST(DecideReminders, ARestartBetweenSettingAndFiringFiresFromTheFile) {
    QTemporaryDir folder;
    const QString path = folder.filePath(u"reminders.json"_qs);
    {
        ReminderStore store(path);
        store.Add(ReminderAt(Beijing(10, 19), 10));
        store.Add(ReminderAt(Beijing(10, 8), 5, u"朝闻天下"_qs));
    }
    // The program was not running at 07:55; it starts again at 18:50.
    const ReminderStore store(path);
    ASSERT_EQ(store.Reminders().size(), 2);
    const ReminderDecision decision = DecideReminders(store.Reminders(), Beijing(10, 18, 50));
    ASSERT_EQ(decision.fire.size(), 1);
    EXPECT_EQ(store.Reminders()[decision.fire[0]].title, u"新闻联播"_qs);
    ASSERT_EQ(decision.missed.size(), 1);
    EXPECT_EQ(store.Reminders()[decision.missed[0]].title, u"朝闻天下"_qs);
    EXPECT_EQ(StateText(ReminderState::Missed), u"已错过"_qs);
}

TEST(FollowSchedule, AReminderFollowsItsProgrammeOrIsMarkedChanged) {
    const Guide guide = GuideOf({{u"CCTV-1 综合"_qs,
                                  {u"2026-12-10 星期四"_qs, u"19:00 天气预报"_qs, u"19:40 新闻联播"_qs,
                                   u"20:10 焦点访谈"_qs, u"23:30 新闻联播"_qs}}});
    const struct {
        const char* name;
        QDateTime start;
        QString title;
        ReminderState state;
        QDateTime followed;
    } cases[] = {
        {"moved forty minutes later", Beijing(10, 19), u"新闻联播"_qs, ReminderState::Waiting,
         Beijing(10, 19, 40)},
        {"the nearer of two airings", Beijing(10, 22), u"新闻联播"_qs, ReminderState::Waiting,
         Beijing(10, 23, 30)},
        {"moved further than three hours", Beijing(10, 15), u"焦点访谈"_qs, ReminderState::Changed,
         Beijing(10, 15)},
        {"removed", Beijing(10, 21), u"今日说法"_qs, ReminderState::Changed, Beijing(10, 21)},
    };
    ChannelKeys keys;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reminder reminder = ReminderAt(c.start, 5, c.title);
        reminder.channelKey = keys.KeyOf(u"cctv1 HD"_qs); // set under another spelling
        const QString id = reminder.id;
        QList<Reminder> reminders = {reminder};
        EXPECT_TRUE(FollowSchedule(reminders, guide, Beijing(10, 12), keys));
        ASSERT_EQ(reminders.size(), 1); // never dropped
        EXPECT_EQ(reminders[0].state, c.state);
        EXPECT_EQ(reminders[0].start, c.followed);
        EXPECT_EQ(reminders[0].id, id);
    }
    // The moved one takes its new end and listing line; a second pass changes nothing.
    QList<Reminder> moved = {ReminderAt(Beijing(10, 19), 5)};
    moved[0].channelKey = keys.KeyOf(u"CCTV-1 综合"_qs);
    FollowSchedule(moved, guide, Beijing(10, 12), keys);
    EXPECT_EQ(moved[0].end, Beijing(10, 20, 10));
    EXPECT_EQ(moved[0].line, 4);
    EXPECT_FALSE(FollowSchedule(moved, guide, Beijing(10, 12), keys));
}

TEST(FollowSchedule, FiredAndPastRemindersStayAsTheyAre) {
    const Guide guide = GuideOf({{u"CCTV-1"_qs, {u"2026-12-10 星期四"_qs, u"19:40 新闻联播"_qs}}});
    ChannelKeys keys;
    QList<Reminder> reminders = {ReminderAt(Beijing(10, 19), 5),
                                 ReminderAt(Beijing(10, 8), 5, u"朝闻天下"_qs)};
    reminders[0].state = ReminderState::Fired;
    EXPECT_FALSE(FollowSchedule(reminders, guide, Beijing(10, 18, 56), keys));
    EXPECT_EQ(reminders[0].start, Beijing(10, 19));
    EXPECT_EQ(reminders[1].state, ReminderState::Waiting);
}

} // namespace
