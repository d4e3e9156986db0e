// The reminders file: what a person keeps comes back whole at the next start, and a damaged file is
// kept aside, never written over.
#include "reminders/ReminderStore.h"

#include "tests/reminders/ReminderTestGuide.h"
#include "tests/support/Files.h"
#include "tests/support/QtPrinters.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

Reminder Programme(const QDateTime& start, const QString& title) {
    Reminder reminder;
    reminder.channel = u"CCTV-1 综合"_qs;
    reminder.channelKey = u"cctv1"_qs;
    reminder.listingPath = u"/data/央视频道/01.txt"_qs;
    reminder.className = u"央视频道"_qs;
    reminder.line = 12;
    reminder.title = title;
    reminder.start = start;
    reminder.end = start.addSecs(1800);
    return reminder;
}

TEST(ReminderStore, EverythingComesBackAtTheNextStart) {
    QTemporaryDir folder;
    const QString path = folder.filePath(u"Pelnavi/reminders.json"_qs);
    QString id;
    {
        ReminderStore store(path);
        EXPECT_FALSE(QFileInfo::exists(path)); // nothing kept, nothing written
        store.Add(Programme(Beijing(10, 19), u"新闻联播"_qs));
        store.Add(Programme(Beijing(10, 8), u"朝闻天下"_qs));
        // The same programme again is the reminder kept.
        EXPECT_EQ(store.Add(Programme(Beijing(10, 19), u"新闻联播"_qs)), 1);
        id = store.Reminders()[0].id;
        store.SetLead(id, 60);
        store.SetLead(id, 7); // no such lead
        store.SetState(store.Reminders()[1].id, ReminderState::Changed);
        FollowedShow show = FollowOn(u"山海情长"_qs, u"北京卫视"_qs, u"北京卫视"_qs);
        show.autoRemind = true;
        show.mode = AutoRemind::Every;
        show.seen = QStringList{u"山海情长\t21"_qs};
        store.AddFollowed(show);
        store.AddFollowed(FollowOn(u" 山海情长 "_qs, {}, u"北京卫视"_qs)); // followed already
        store.AddFollowed(Follow(u"xwlb"_qs));
    }
    const ReminderStore store(path);
    EXPECT_TRUE(store.LoadProblem().isEmpty());
    ASSERT_EQ(store.Reminders().size(), 2);
    const Reminder& first = store.Reminders()[0];
    EXPECT_EQ(first.id, id);
    EXPECT_EQ(first.title, u"朝闻天下"_qs); // in time order
    EXPECT_EQ(first.start, Beijing(10, 8));
    EXPECT_EQ(first.end, Beijing(10, 8, 30));
    EXPECT_EQ(first.lead, 60);
    EXPECT_EQ(first.channel, u"CCTV-1 综合"_qs);
    EXPECT_EQ(first.channelKey, u"cctv1"_qs);
    EXPECT_EQ(first.listingPath, u"/data/央视频道/01.txt"_qs);
    EXPECT_EQ(first.className, u"央视频道"_qs);
    EXPECT_EQ(first.line, 12);
    EXPECT_EQ(store.Reminders()[1].state, ReminderState::Changed);
    ASSERT_EQ(store.Followed().size(), 2);
    const FollowedShow& show = store.Followed()[0];
    EXPECT_EQ(show.channel, u"北京卫视"_qs);
    EXPECT_TRUE(show.autoRemind);
    EXPECT_EQ(show.mode, AutoRemind::Every);
    EXPECT_EQ(show.seen, QStringList{u"山海情长\t21"_qs});
    EXPECT_EQ(store.Followed()[1].mode, AutoRemind::NewEpisodes);
}

TEST(ReminderStore, ADamagedFileIsKeptAsideAndReported) {
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"cut short", R"({"reminders": [{"title": "新闻联播", "start": "2026-12-)"},
        {"not an object", "[1, 2]"},
        {"no JSON at all", "\x89PNG\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        const QString path = folder.filePath(u"reminders.json"_qs);
        ASSERT_TRUE(WriteAll(path, c.bytes));
        ReminderStore store(path);
        EXPECT_EQ(store.LoadProblem(), u"提醒文件已损坏，已另存为 reminders.json.bak"_qs);
        EXPECT_TRUE(store.Reminders().isEmpty());
        EXPECT_EQ(ReadAll(path + u".bak"_qs), c.bytes);
        // What the person sets now is kept in a new file.
        store.Add(Programme(Beijing(10, 19), u"新闻联播"_qs));
        EXPECT_EQ(ReminderStore(path).Reminders().size(), 1);
        EXPECT_EQ(ReadAll(path + u".bak"_qs), c.bytes);
    }
}

} // namespace
