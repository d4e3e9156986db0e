// Favourite channels are kept by the channel's identity: they survive a new import under another
// channel map, and a restart.
#include "reminders/Favourites.h"

#include "guide/Guide.h"
#include "sources/SourceConversion.h"
#include "tests/support/Files.h"
#include "tests/support/QtPrinters.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString U(const char16_t* text) {
    return QString::fromUtf16(text);
}

const char kFeed[] =
    "<tv><channel id=\"CCTV1\"><display-name>CCTV-1 综合</display-name></channel>"
    "<channel id=\"BTV\"><display-name>北京卫视</display-name></channel>"
    "<programme start=\"20261210200000 +0800\" channel=\"CCTV1\"><title>A</title></programme>"
    "<programme start=\"20261210200000 +0800\" channel=\"BTV\"><title>B</title></programme></tv>";

// The data folder's CCTV-1 after an import of the feed with the map as it is.
GuideChannel ImportCctv1(const QString& data, const QString& feed) {
    const FeedPlacing placing = LoadFeedPlacing(data);
    WriteMergedFeeds(data, {ReadFeedSource(feed, u"a.source"_qs, 0, placing)});
    const QList<GuideChannel> channels = LoadGuide(data + u'/', QDate(2026, 12, 10)).channels;
    EXPECT_EQ(channels.size(), 2);
    const auto cctv = std::find_if(channels.begin(), channels.end(), [](const GuideChannel& channel) {
        return channel.displayName.startsWith(u"CCTV");
    });
    return cctv == channels.end() ? GuideChannel() : *cctv;
}

TEST(FavouriteChannels, AFavouriteSurvivesAnImportUnderAnotherMapAndARestart) {
    QTemporaryDir data;
    const QString feed = data.filePath(u"sources/a.source"_qs);
    ASSERT_TRUE(WriteAll(feed, kFeed));
    const QString settingsPath = data.filePath(u"Pelnavi.ini"_qs);
    QString firstPath;
    {
        SettingsFile settings(settingsPath);
        FavouriteChannels favourites(settings);
        const GuideChannel cctv = ImportCctv1(data.path(), feed);
        firstPath = cctv.listingPath;
        favourites.Set(cctv.displayName, true);
        EXPECT_TRUE(favourites.Contains(cctv.displayName));
        EXPECT_FALSE(favourites.Contains(U(u"北京卫视")));
    }
    // The map now sends the channel to another class and file.
    ASSERT_TRUE(WriteAll(data.filePath(u"channel-classes.map"_qs), U(u"cctv\t央视频道\t01.txt\n").toUtf8()));
    const GuideChannel cctv = ImportCctv1(data.path(), feed);
    SettingsFile settings(settingsPath);
    FavouriteChannels favourites(settings);
    EXPECT_TRUE(cctv.listingPath.endsWith(U(u"央视频道/01.txt")));
    EXPECT_NE(cctv.listingPath, firstPath);
    EXPECT_TRUE(favourites.Contains(cctv.displayName));
    EXPECT_TRUE(favourites.Contains(u"cctv1 HD"_qs)); // however a feed spells it
    EXPECT_FALSE(favourites.Contains(U(u"北京卫视")));
    EXPECT_EQ(favourites.Count(), 1);

    favourites.Toggle(U(u"ＣＣＴＶ－１"));
    EXPECT_EQ(favourites.Count(), 0);
    EXPECT_EQ(SettingsFile(settingsPath).Exists(), true);
    SettingsFile reread(settingsPath);
    EXPECT_EQ(FavouriteChannels(reread).Count(), 0);
}

TEST(FavouriteChannels, TheDefaultLeadIsOneOfTheLeadsAndKept) {
    QTemporaryDir folder;
    const QString path = folder.filePath(u"Pelnavi.ini"_qs);
    SettingsFile settings(path);
    EXPECT_EQ(DefaultReminderLead(settings), 5);
    SetDefaultReminderLead(settings, 7); // no such lead
    EXPECT_EQ(DefaultReminderLead(settings), 5);
    SetDefaultReminderLead(settings, 30);
    EXPECT_EQ(DefaultReminderLead(SettingsFile(path)), 30);
}

} // namespace
