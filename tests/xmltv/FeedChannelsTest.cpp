// Small feeds, each showing a way a real feed came out wrong: times of another zone, programmes
// repeated.
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
