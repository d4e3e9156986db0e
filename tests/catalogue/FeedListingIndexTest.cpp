#include "catalogue/FeedListingIndex.h"

#include "catalogue/CatalogueWalk.h"
#include "tests/support/Files.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/WarningRecorder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

namespace {

QString U(const char16_t* text) {
    return QString::fromUtf16(text);
}

TEST(FeedListingIndex, EntriesComeBackAsWrittenWhateverTheirText) {
    const QList<FeedListingEntry> entries = {
        {U(u"数字频道/BBCWORLDNEWS.txt"),
         u"BBCWORLDNEWS"_qs,
         u"default"_qs,
         {u"BBCWorld.uk"_qs},
         {1234, 1790000000}},
        {U(u"地方频道/a\\b.txt"),
         u"tab\there, break\nthere\r, slash \\t"_qs,
         u"epg.example.net.source"_qs,
         {u"first"_qs, u"sec\tond"_qs},
         {0, -1}},
    };
    EXPECT_EQ(ParseFeedListingIndex(QString::fromUtf8(FormatFeedListingIndex(entries))).size(), 2);
    const QList<FeedListingEntry> back =
        ParseFeedListingIndex(QString::fromUtf8(FormatFeedListingIndex(entries)));
    for (qsizetype i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(back[i].path, entries[i].path);
        EXPECT_EQ(back[i].name, entries[i].name);
        EXPECT_EQ(back[i].source, entries[i].source);
        EXPECT_EQ(back[i].ids, entries[i].ids);
        EXPECT_TRUE(back[i].stamp == entries[i].stamp);
    }
    // Lines that are no whole entry are left out.
    EXPECT_TRUE(ParseFeedListingIndex(u"a.txt\tname\tsource\t12\t34\n"    // no id
                                      u"a.txt\tname\tsource\tx\t34\tid\n" // no size
                                      u"\tname\tsource\t12\t34\tid\n"_qs) // no path
                    .isEmpty());
}

// A data folder with two listings from a feed and one from a package.
class FeedNamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(WriteAll(Path(U(u"数字频道/BBCWORLDNEWS.txt")), "listing a"));
        ASSERT_TRUE(WriteAll(Path(U(u"地方频道/南京电视台.txt")), "listing b"));
        ASSERT_TRUE(WriteAll(Path(U(u"央视频道/13.txt")), "package's listing"));
        QList<FeedListingEntry> entries;
        for (const auto& [path, name] : {std::pair{U(u"数字频道/BBCWORLDNEWS.txt"), u"BBCWORLDNEWS"_qs},
                                         std::pair{U(u"地方频道/南京电视台.txt"), U(u"南京电视台")}})
            entries.append({path, name, u"default"_qs, {u"id"_qs}, *StampOf(Path(path))});
        entries.append({U(u"数字频道/gone.txt"), u"Gone"_qs, u"default"_qs, {u"id"_qs}, {1, 1}});
        ASSERT_TRUE(WriteAll(Path(U(kFeedListingIndexFileName)), FormatFeedListingIndex(entries)));
    }

    QString Path(const QString& relative) const { return data_.path() + u'/' + relative; }

    QStringList Names() const {
        const FeedListingNames names = FeedListingNames::Load(data_.path());
        return CollectCatalogue(data_.path(), WalkScope::FollowLinks, &names).displayNames;
    }

    QTemporaryDir data_;
};

TEST_F(FeedNamesTest, AFeedsListingsGoByTheirOwnNamesOthersByTheTable) {
    // Without the index, the table garbles both feed names.
    EXPECT_EQ(CollectCatalogue(data_.path()).displayNames,
              (QStringList{U(u"南京"), U(u"ZORQ-13 ZORQ-13 新闻"), U(u"bbcworldZORQ-NEWS")}));
    EXPECT_EQ(Names(), (QStringList{U(u"南京电视台"), U(u"ZORQ-13 ZORQ-13 新闻"), u"BBCWORLDNEWS"_qs}));
}

TEST_F(FeedNamesTest, AListingChangedSinceTheImportGoesByTheTable) {
    ASSERT_TRUE(WriteAll(Path(U(u"地方频道/南京电视台.txt")), "a package's listing, longer"));
    const QString bbc = Path(U(u"数字频道/BBCWORLDNEWS.txt"));
    // Of the same size, but of another time: written over since.
    const utimbuf earlier{1000, 1000};
    ASSERT_EQ(::utime(QFile::encodeName(bbc).constData(), &earlier), 0);
    EXPECT_EQ(Names(), (QStringList{U(u"南京"), U(u"ZORQ-13 ZORQ-13 新闻"), U(u"bbcworldZORQ-NEWS")}));
}

TEST_F(FeedNamesTest, AnIndexThatCannotBeReadIsNone) {
    const QString index = Path(U(kFeedListingIndexFileName));
    QFile::remove(index);
    ASSERT_EQ(::mkfifo(QFile::encodeName(index).constData(), 0600), 0);
    WarningRecorder log;
    EXPECT_EQ(Names(), (QStringList{U(u"南京"), U(u"ZORQ-13 ZORQ-13 新闻"), U(u"bbcworldZORQ-NEWS")}));
    EXPECT_EQ(log.warnings.size(), 1) << "a FIFO is neither waited for nor read";
}

} // namespace
