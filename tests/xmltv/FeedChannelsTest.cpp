// Small feeds, each showing a way a real feed came out wrong: a channel declared twice, times of
// another zone, programmes repeated.
#include "xmltv/XmltvImport.h"

#include "catalogue/ListingFile.h"
#include "tests/support/QtPrinters.h"
#include "tests/xmltv/ImportFiles.h"

#include <QBuffer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

} // namespace
