// Feeds of several sources written as listings: one channel however each feed spells it, recorded in
// the index under the source that placed it.
#include "sources/SourceConversion.h"

#include "catalogue/FeedListingIndex.h"
#include "catalogue/ListingFile.h"
#include "tests/support/Files.h"
#include "tests/support/QtPrinters.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString U(const char16_t* text) {
    return QString::fromUtf16(text);
}

QStringList ListingsBelow(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, {u"*.txt"_qs}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

// A feed of one channel with one programme on each of `days` (of December 2026) at 20:00.
QString OneChannelFeed(const QString& id, const QString& name, std::initializer_list<int> days,
                       const QString& title) {
    QString feed = u"<tv><channel id=\"%1\"><display-name>%2</display-name></channel>"_qs.arg(id, name);
    for (const int day : days)
        feed += u"<programme start=\"%1 +0800\" channel=\"%2\"><title>%3</title></programme>"_qs.arg(
            QDateTime(QDate(2026, 12, day), QTime(20, 0)).toString(u"yyyyMMddHHmmss"), id, title);
    return feed + u"</tv>"_qs;
}

TEST(WriteMergedFeeds, OneChannelOfSeveralSpellingsIsOneListingAndMovesWithTheMap) {
    QTemporaryDir data;
    const QString a = data.filePath(u"sources/a.source"_qs);
    const QString b = data.filePath(u"sources/b.source"_qs);
    ASSERT_TRUE(WriteAll(a, OneChannelFeed(u"cctv1.a"_qs, U(u"CCTV-1 综合"), {10}, u"A"_qs).toUtf8()));
    ASSERT_TRUE(WriteAll(b, OneChannelFeed(u"CCTV1"_qs, u"cctv1 HD"_qs, {10, 11}, u"B"_qs).toUtf8()));
    const auto convert = [&] {
        const FeedPlacing placing = LoadFeedPlacing(data.path());
        return WriteMergedFeeds(data.path(), {ReadFeedSource(a, u"a.source"_qs, 0, placing),
                                              ReadFeedSource(b, u"b.source"_qs, 0, placing)});
    };
    EXPECT_EQ(convert().size(), 1);
    const QString listing = data.filePath(U(u"数字频道/CCTV-1 综合.txt"));
    EXPECT_EQ(DecodeListing(ReadListingFile(listing)), (QStringList{U(u"CCTV-1 综合 一周节目预告"),
                                                                    {},
                                                                    U(u"2026-12-10 星期四"),
                                                                    U(u"20:00 A"),
                                                                    {},
                                                                    U(u"2026-12-11 星期五"),
                                                                    U(u"20:00 B")}));
    const QList<FeedListingEntry> index = ReadFeedListingIndex(data.path());
    ASSERT_EQ(index.size(), 1);
    EXPECT_EQ(index[0].source, u"a.source"_qs);
    EXPECT_EQ(index[0].ids, QStringList{u"cctv1.a"_qs});

    // The map moves the channel; the next conversion leaves nothing at its old place.
    ASSERT_TRUE(WriteAll(data.filePath(u"channel-classes.map"_qs), U(u"cctv1\t央视频道\t01.txt\n").toUtf8()));
    convert();
    EXPECT_EQ(ListingsBelow(data.path()), QStringList{U(u"央视频道/01.txt")});
}

} // namespace
