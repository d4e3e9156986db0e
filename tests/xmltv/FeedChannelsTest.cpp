// Small feeds, each showing a way a real feed came out wrong: names garbled by the display-name
// table, a channel declared twice, programmes repeated, times of another zone, a channel left
// behind when the map moved it.
#include "xmltv/XmltvImport.h"

#include "catalogue/CatalogueWalk.h"
#include "catalogue/FeedListingIndex.h"
#include "catalogue/ListingFile.h"
#include "tests/support/QtPrinters.h"
#include "tests/xmltv/ImportFiles.h"

#include <QBuffer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

QList<ImportedListing> Import(const QString& feed, const QString& data,
                              const XmltvImportOptions& options = {}) {
    QBuffer buffer;
    buffer.setData(feed.toUtf8());
    buffer.open(QIODevice::ReadOnly);
    return ImportXmltvFeed(buffer, data, options);
}

QString Channel(const QString& id, const QString& name) {
    return u"<channel id=\"%1\"><display-name>%2</display-name></channel>"_qs.arg(id, name);
}

QString Programme(const QString& id, const char* start, const QString& title, const char* stop = nullptr) {
    return u"<programme start=\"%1\"%2 channel=\"%3\"><title>%4</title></programme>"_qs.arg(
        QString::fromLatin1(start),
        stop != nullptr ? u" stop=\"%1\""_qs.arg(QString::fromLatin1(stop)) : QString(), id, title);
}

// The listing's lines after its title line and the empty line below it.
QStringList ProgrammeLines(const QString& path) {
    return DecodeListing(ReadFile(path)).mid(2);
}

// What the channel list shows for the whole data folder, by listing path relative to it.
QMap<QString, QString> Shown(const QString& data) {
    const FeedListingNames names = FeedListingNames::Load(data);
    const CatalogueEntries entries = CollectCatalogue(data, WalkScope::FollowLinks, &names);
    QMap<QString, QString> shown;
    for (qsizetype i = 0; i < entries.listingPaths.size(); ++i)
        shown.insert(QDir(data).relativeFilePath(entries.listingPaths[i]), entries.displayNames[i]);
    return shown;
}

TEST(FeedChannels, TheChannelListShowsAFeedsOwnNames) {
    const QStringList names = {U(u"北京新闻"),          u"BBCWORLDNEWS"_qs,      U(u"南京电视台"),
                               u"CNN International"_qs, U(u"ＣＧＴＮ Ｎｅｗｓ"), u"news"_qs};
    QString feed = u"<tv>"_qs;
    for (qsizetype i = 0; i < names.size(); ++i)
        feed += Channel(u"c%1"_qs.arg(i), names[i]) +
                Programme(u"c%1"_qs.arg(i), "20261210080000 +0800", U(u"节目"));
    QTemporaryDir data;
    ASSERT_TRUE(QDir().mkpath(data.filePath(U(u"央视频道"))));
    WriteFile(data.filePath(U(u"央视频道/13.txt")), "package's listing");
    Import(feed + u"</tv>"_qs, data.path());

    QMap<QString, QString> expected{{U(u"央视频道/13.txt"), U(u"ZORQ-13 ZORQ-13 新闻")}};
    for (const QString& name : names)
        expected.insert(U(u"数字频道/") + name + u".txt"_qs, name);
    EXPECT_EQ(Shown(data.path()), expected);
    for (const QString& name : names)
        EXPECT_EQ(DecodeListing(ReadFile(data.filePath(U(u"数字频道/") + name + u".txt"_qs))).value(0),
                  name + U(u" 一周节目预告"))
            << "the title line and the list agree";
}

TEST(FeedChannels, AChannelDeclaredTwiceIsOneListing) {
    const QString feed = u"<tv>"_qs +
                         // The same id twice.
                         Channel(u"hunan"_qs, U(u"湖南卫视")) + Channel(u"hunan"_qs, u"Hunan TV"_qs) +
                         // Two ids of one key.
                         Channel(u"cctv1.cn"_qs, U(u"CCTV-1 综合")) + Channel(u"CCTV1"_qs, u"cctv1 HD"_qs) +
                         // Traditional and Simplified.
                         Channel(u"phoenix.hk"_qs, U(u"鳳凰衛視中文台")) +
                         Channel(u"fhzw"_qs, U(u"凤凰卫视中文台")) +
                         // Not the same channel: 4K, and a regional variant.
                         Channel(u"4k"_qs, u"CCTV-4K"_qs) + Channel(u"4"_qs, u"CCTV-4"_qs) +
                         Channel(u"4eu"_qs, U(u"CCTV-4 欧洲")) +
                         Programme(u"hunan"_qs, "20261210080000 +0800", U(u"快乐大本营")) +
                         Programme(u"cctv1.cn"_qs, "20261210190000 +0800", U(u"新闻联播")) +
                         Programme(u"CCTV1"_qs, "20261210070000 +0800", U(u"朝闻天下")) +
                         Programme(u"phoenix.hk"_qs, "20261210090000 +0800", U(u"鳳凰早班車")) +
                         Programme(u"fhzw"_qs, "20261210100000 +0800", U(u"凤凰大视野")) +
                         Programme(u"4k"_qs, "20261210100000 +0800", U(u"超高清")) + u"</tv>"_qs;
    QTemporaryDir data;
    const QList<ImportedListing> listings = Import(feed, data.path());
    QStringList places;
    for (const ImportedListing& listing : listings)
        places << listing.classFolder + u'/' + listing.fileName;
    EXPECT_EQ(places, (QStringList{U(u"地方频道/湖南卫视.txt"), U(u"数字频道/CCTV-1 综合.txt"),
                                   U(u"境外频道/鳳凰衛視中文台.txt"), U(u"数字频道/CCTV-4K.txt"),
                                   U(u"数字频道/CCTV-4.txt"), U(u"数字频道/CCTV-4 欧洲.txt")}));
    EXPECT_EQ(ProgrammeLines(data.filePath(U(u"数字频道/CCTV-1 综合.txt"))),
              (QStringList{U(u"2026-12-10 星期四"), U(u"07:00 朝闻天下"), U(u"19:00 新闻联播")}));
    EXPECT_EQ(ProgrammeLines(data.filePath(U(u"境外频道/鳳凰衛視中文台.txt"))),
              (QStringList{U(u"2026-12-10 星期四"), U(u"09:00 鳳凰早班車"), U(u"10:00 凤凰大视野")}));
    QMap<QString, QStringList> ids;
    for (const FeedListingEntry& entry : ReadFeedListingIndex(data.path()))
        ids.insert(entry.path, entry.ids);
    EXPECT_EQ(ids.value(U(u"数字频道/CCTV-1 综合.txt")), (QStringList{u"cctv1.cn"_qs, u"CCTV1"_qs}));
    EXPECT_EQ(ids.value(U(u"地方频道/湖南卫视.txt")), QStringList{u"hunan"_qs});
}

TEST(FeedChannels, ARepeatedProgrammeIsWrittenOnce) {
    QString feed = u"<tv>"_qs + Channel(u"a"_qs, U(u"测试台"));
    for (int i = 0; i < 6; ++i)
        feed += Programme(u"a"_qs, "20261210080000 +0800", U(u"早间新闻"), "20261210090000 +0800");
    feed += Programme(u"a"_qs, "20261210090000 +0800", U(u"电视剧"),
                      "20261210083000 +0800") +                          // stop before start
            Programme(u"a"_qs, "20261210090000 +0800", U(u"天气预报")) + // another title at one start
            Programme(u"a"_qs, "20261210090000 +0800", U(u"电视剧")) +
            Programme(u"a"_qs, "20261210100000 +0800", U(u"早间新闻")) + u"</tv>"_qs; // a repeat later on
    QTemporaryDir data;
    Import(feed, data.path());
    EXPECT_EQ(ProgrammeLines(data.filePath(U(u"数字频道/测试台.txt"))),
              (QStringList{U(u"2026-12-10 星期四"), U(u"08:00 早间新闻"), U(u"09:00 电视剧"),
                           U(u"09:00 天气预报"), U(u"10:00 早间新闻")}));
}

TEST(FeedChannels, StartsAreBeijingTimeWhateverTheFeedsOffset) {
    const struct {
        const char* start;
        int sourceOffset; // minutes
        const char16_t* day;
        const char16_t* line;
    } cases[] = {
        {"20261210120000 +0000", 0, u"2026-12-10 星期四", u"20:00 新闻"},
        {"20261210120000 -0500", 0, u"2026-12-11 星期五", u"01:00 新闻"},
        {"20261210120000 +0930", 0, u"2026-12-10 星期四", u"10:30 新闻"},
        {"20261210120000 +0800", 0, u"2026-12-10 星期四", u"12:00 新闻"},
        {"20261210120000+01:00", 0, u"2026-12-10 星期四", u"19:00 新闻"},
        {"20261231200000 Z", 0, u"2027-01-01 星期五", u"04:00 新闻"},
        {"20270101030000 +1000", 0, u"2027-01-01 星期五", u"01:00 新闻"},
        {"20261210120000", 0, u"2026-12-10 星期四", u"12:00 新闻"},     // no offset: Beijing time
        {"20261210120000 BST", 0, u"2026-12-10 星期四", u"12:00 新闻"}, // a zone's name: the same
        // The source's offset comes on top.
        {"20261210120000 +0000", -60, u"2026-12-10 星期四", u"19:00 新闻"},
        {"20261210150000 -0500", 120, u"2026-12-11 星期五", u"06:00 新闻"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        SCOPED_TRACE(c.sourceOffset);
        QTemporaryDir data;
        XmltvImportOptions options;
        options.offsetMinutes = c.sourceOffset;
        Import(u"<tv>"_qs + Channel(u"a"_qs, U(u"测试台")) + Programme(u"a"_qs, c.start, U(u"新闻")) +
                   u"</tv>"_qs,
               data.path(), options);
        EXPECT_EQ(ProgrammeLines(data.filePath(U(u"数字频道/测试台.txt"))),
                  (QStringList{U(c.day), U(c.line)}));
    }
}

TEST(FeedChannels, AMapEditedBetweenTwoImportsMovesItsChannels) {
    const QString feed = u"<tv>"_qs + Channel(u"hunan"_qs, U(u"湖南卫视")) +
                         Channel(u"anhui"_qs, U(u"安徽卫视")) + Channel(u"ball"_qs, U(u"风云足球")) +
                         u"</tv>"_qs;
    QTemporaryDir data;
    Import(feed, data.path());
    // What the import did not write: another source's listing, a package's listing.
    XmltvImportOptions other;
    other.source = u"epg.example.net.source"_qs;
    Import(u"<tv>"_qs + Channel(u"x"_qs, U(u"体育台")) + u"</tv>"_qs, data.path(), other);
    WriteFile(data.filePath(U(u"地方频道/01.txt")), "package's listing");
    // Changed since the import (a package unpacked over it): no longer the import's.
    WriteFile(data.filePath(U(u"地方频道/安徽卫视.txt")), "package's listing of the same name");
    const QStringList before = FilesBelow(data.path()).filter(u".txt"_qs);
    EXPECT_EQ(before.size(), 5);

    WriteFile(data.filePath(U(u"channel-classes.map")),
              U(u"卫视\t境外频道\n风云\t数字频道\t足球.txt\n/.*/\t数字频道\n").toUtf8());
    Import(feed, data.path());
    EXPECT_EQ(FilesBelow(data.path()).filter(u".txt"_qs),
              (QStringList{U(u"地方频道/01.txt"), U(u"地方频道/安徽卫视.txt"), U(u"境外频道/安徽卫视.txt"),
                           U(u"境外频道/湖南卫视.txt"), U(u"数字频道/体育台.txt"), U(u"数字频道/足球.txt")}));
    EXPECT_EQ(ReadFile(data.filePath(U(u"地方频道/安徽卫视.txt"))), "package's listing of the same name");
    EXPECT_EQ(Shown(data.path()).value(U(u"数字频道/足球.txt")), U(u"风云足球"));
    EXPECT_EQ(Shown(data.path()).value(U(u"数字频道/体育台.txt")), U(u"体育台"));
    EXPECT_EQ(FilesBelow(data.path()).filter(u".xmltv-"_qs), QStringList());
}

TEST(FeedChannels, AnIndexEntryLeadingOutOfTheClassFoldersRemovesNothing) {
    QTemporaryDir root;
    const QString data = root.filePath(u"data"_qs);
    ASSERT_TRUE(QDir().mkpath(data));
    WriteFile(root.filePath(u"victim.txt"_qs), "not the program's");
    WriteFile(data + u"/top.txt"_qs, "not the program's either");
    QList<FeedListingEntry> entries;
    for (const QString& path : {u"../victim.txt"_qs, u"top.txt"_qs})
        entries.append({path, u"x"_qs, u"default"_qs, {u"x"_qs}, *StampOf(data + u'/' + path)});
    WriteFile(data + u'/' + U(kFeedListingIndexFileName), FormatFeedListingIndex(entries));
    Import(u"<tv>"_qs + Channel(u"a"_qs, U(u"测试台")) + u"</tv>"_qs, data);
    EXPECT_EQ(ReadFile(root.filePath(u"victim.txt"_qs)), "not the program's");
    EXPECT_EQ(ReadFile(data + u"/top.txt"_qs), "not the program's either");
}

} // namespace
