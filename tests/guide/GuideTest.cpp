#include "guide/Guide.h"

#include "catalogue/CatalogueWalk.h"
#include "guide/GuideSearch.h"

#include "tests/support/EncodeGbk.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/WarningRecorder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QDateTime At(int y, int mo, int d, int h, int mi, int s = 0) {
    return ListingInstant(QDate(y, mo, d), QTime(h, mi, s));
}

class GuideTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(root_.isValid()); }
    QString DataFolder() const { return root_.path() + QStringLiteral("/ZORQListTemp/"); }
    void Write(const QString& relativePath, const QString& text) {
        const QString path = DataFolder() + relativePath;
        ASSERT_TRUE(QDir().mkpath(path.left(path.lastIndexOf(u'/'))));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(EncodeGbk(QString(text).replace(QStringLiteral("\n"), QStringLiteral("\r\n"))));
    }

private:
    QTemporaryDir root_;
};

struct Row {
    QString channel, current, next;
    friend bool operator==(const Row&, const Row&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Row& row) {
        return out << row.channel.toStdString() << " | " << row.current.toStdString() << " | "
                   << row.next.toStdString();
    }
};

std::vector<Row> RowsAt(const Guide& guide, const QDateTime& now) {
    std::vector<Row> rows;
    for (const OnAirRow& row : OnAirRows(guide, now))
        rows.push_back(
            {guide.channels[row.channel].displayName,
             row.current->StartTime().toString(QStringLiteral("MM-dd HH:mm ")) + row.current->title,
             row.next ? row.next->StartTime().toString(QStringLiteral("MM-dd HH:mm ")) + row.next->title
                      : QString()});
    return rows;
}

TEST_F(GuideTest, OnAirAtTheEdgesAcrossClassesInCatalogueOrder) {
    Write(QStringLiteral("央视频道/01.txt"),
          QStringLiteral("ZORQ-1 中央 一周节目预告\n\n"
                         "2026-12-10 星期四\n06:00 朝闻天下\n19:00 新闻联播\n"
                         "23:30 午夜新闻\n00:30 重播：新闻联播\n\n"
                         "2026-12-11 星期五\n06:00 朝闻天下\n"));
    // A listing of last week has nothing on air.
    Write(QStringLiteral("地方频道/hunan卫视.txt"), QStringLiteral("2026-12-03 星期四\n06:00 快乐大本营\n"));
    // Day headings without a year take the current one.
    Write(QStringLiteral("数字频道/05.txt"),
          QStringLiteral("12月10日 星期四\n18:00 体育新闻\n20:00 NBA常规赛\n"));
    // Outside the class folders; no headings at all: today's.
    Write(QStringLiteral("top.txt"), QStringLiteral("19:00 整点新闻\n"));
    Write(QStringLiteral("境外频道/broken.txt"), QStringLiteral("\xEF\xBB\xBF"));

    const Guide guide = LoadGuide(DataFolder(), QDate(2026, 12, 10));
    QStringList classes;
    for (const GuideChannel& channel : guide.channels)
        classes << channel.displayName + u'@' + channel.className;
    classes.sort();
    EXPECT_EQ(classes, (QStringList{"ZORQ-1 中央@央视频道", "ZORQ-5 体育@数字频道", "broken@境外频道",
                                    "top@所有频道", "卫视@地方频道"}));

    const struct {
        const char* what;
        QDateTime now;
        std::vector<Row> rows;
    } cases[] = {
        {"starting exactly now",
         At(2026, 12, 10, 19, 0),
         {{"top", "12-10 19:00 整点新闻", ""},
          {"ZORQ-1 中央", "12-10 19:00 新闻联播", "12-10 23:30 午夜新闻"},
          {"ZORQ-5 体育", "12-10 18:00 体育新闻", "12-10 20:00 NBA常规赛"}}},
        {"a second before the start",
         At(2026, 12, 10, 18, 59, 59),
         {{"ZORQ-1 中央", "12-10 06:00 朝闻天下", "12-10 19:00 新闻联播"},
          {"ZORQ-5 体育", "12-10 18:00 体育新闻", "12-10 20:00 NBA常规赛"}}},
        {"the last programme of the day runs past midnight",
         At(2026, 12, 11, 1, 15),
         {{"ZORQ-1 中央", "12-11 00:30 重播：新闻联播", "12-11 06:00 朝闻天下"}}},
        {"before the first programme of the week", At(2026, 12, 10, 5, 59), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Row> rows = RowsAt(guide, c.now);
        // The catalogue orders by the walk; compare independent of where "top" fell.
        std::vector<Row> expected = c.rows;
        for (std::vector<Row>* list : {&rows, &expected})
            std::sort(list->begin(), list->end(),
                      [](const Row& a, const Row& b) { return a.channel < b.channel; });
        EXPECT_EQ(rows, expected);
    }
}

TEST_F(GuideTest, RowsFollowTheCatalogueOrder) {
    Write(QStringLiteral("央视频道/02.txt"), QStringLiteral("2026-12-10\n00:00 a\n"));
    Write(QStringLiteral("央视频道/sub/03.txt"), QStringLiteral("2026-12-10\n00:00 b\n"));
    Write(QStringLiteral("央视频道/01.txt"), QStringLiteral("2026-12-10\n00:00 c\n"));
    const Guide guide = LoadGuide(DataFolder(), QDate(2026, 12, 10));
    QStringList walked, listed;
    for (const QString& path : CollectCatalogue(DataFolder()).listingPaths)
        walked << path;
    for (const OnAirRow& row : OnAirRows(guide, At(2026, 12, 10, 12, 0)))
        listed << guide.channels[row.channel].listingPath;
    EXPECT_EQ(listed, walked);
    EXPECT_EQ(listed.size(), 3);
}

// A listing the guide cannot read is left out, and the log says which and why.
TEST_F(GuideTest, AListingLeftOutIsLoggedWithItsReason) {
    Write(QStringLiteral("央视频道/01.txt"), QStringLiteral("2026-12-10\n00:00 a\n"));
    const QString fifo = DataFolder() + QStringLiteral("央视频道/fifo.txt");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    WarningRecorder recorder;
    EXPECT_EQ(LoadGuide(DataFolder(), QDate(2026, 12, 10)).channels.size(), 1);
    ASSERT_EQ(recorder.warnings.size(), 1);
    EXPECT_TRUE(recorder.warnings[0].contains(fifo)) << recorder.warnings[0].toStdString();
    EXPECT_TRUE(recorder.warnings[0].contains(u"Not a regular file")) << recorder.warnings[0].toStdString();
}

// A listing of the given size in bytes: a dated day, one programme, padding as a note.
QByteArray ListingOfSize(qsizetype bytes) {
    QByteArray listing("2026-12-10\r\n00:00 a\r\n");
    return listing + QByteArray(bytes - listing.size(), '#');
}

// A 50 MB listing took the guide 1.35 GB, 50,000 listings 2 GB: a listing over the limit of one is
// left out, and so are the listings after the total is reached.
TEST_F(GuideTest, ListingsBeyondTheBoundsAreLeftOutAndCounted) {
    for (const auto& [name, bytes] :
         {std::pair{"01.txt", 1500}, {"02.txt", 4000}, {"03.txt", 1000}, {"04.txt", 1000}, {"05.txt", 10}}) {
        const QString path = DataFolder() + QStringLiteral("央视频道/") + QString::fromLatin1(name);
        ASSERT_TRUE(QDir().mkpath(DataFolder() + QStringLiteral("央视频道")));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes < 20 ? QByteArray(bytes, '#') : ListingOfSize(bytes));
    }
    const Guide guide = LoadGuide(DataFolder(), QDate(2026, 12, 10), GuideLimits{2048, 3072});
    QStringList read;
    for (const GuideChannel& channel : guide.channels)
        read << channel.listingPath.section(u'/', -1);
    EXPECT_EQ(read, (QStringList{"01.txt", "03.txt"}));
    EXPECT_EQ(guide.tooLarge, 1);
    EXPECT_EQ(guide.beyondTotal, 2);
    EXPECT_EQ(LoadGuide(DataFolder(), QDate(2026, 12, 10)).channels.size(), 5);
}

// The page's reading ends when the program does; a stop asked for reads no further.
TEST_F(GuideTest, AStopEndsTheReadingAndTheIndex) {
    Write(QStringLiteral("央视频道/01.txt"), QStringLiteral("2026-12-10\n00:00 a\n"));
    std::stop_source stop;
    stop.request_stop();
    EXPECT_TRUE(LoadGuide(DataFolder(), QDate(2026, 12, 10), {}, stop.get_token()).channels.isEmpty());
    auto guide = std::make_shared<const Guide>(LoadGuide(DataFolder(), QDate(2026, 12, 10)));
    ASSERT_EQ(guide->channels.size(), 1);
    PinyinCache pinyin;
    EXPECT_EQ(GuideSearch(guide, pinyin, stop.get_token()).ProgrammeCount(), 0);
    EXPECT_EQ(GuideSearch(guide, pinyin).ProgrammeCount(), 1);
}

TEST_F(GuideTest, AMissingDataFolderGivesAnEmptyGuide) {
    EXPECT_TRUE(LoadGuide(DataFolder() + QStringLiteral("none/"), QDate(2026, 12, 10)).channels.isEmpty());
}

TEST(ProgrammeOnAirToday, OnlyWhenADayHeadingIsToday) {
    const QStringList lines = {"【ZORQ-1 中央】", "ZORQ-1 中央 一周节目预告", "", "2026-12-10 星期四",
                               "06:00 朝闻天下",  "19:00 新闻联播",           "", "2026-12-11 星期五",
                               "06:00 朝闻天下"};
    const Schedule withHeadings = ParseSchedule(lines);
    const Schedule headless = ParseSchedule({"06:00 朝闻天下", "19:00 新闻联播"}, QDate(2026, 12, 10));
    const struct {
        const char* what;
        const Schedule& schedule;
        QDateTime now;
        qsizetype line; // -1: nothing marked
    } cases[] = {
        {"evening", withHeadings, At(2026, 12, 10, 20, 0), 5},
        {"next morning", withHeadings, At(2026, 12, 11, 6, 0), 8},
        {"a day not in the listing", withHeadings, At(2026, 12, 12, 6, 0), -1},
        {"before the first programme", withHeadings, At(2026, 12, 10, 5, 0), -1},
        {"no day headings", headless, At(2026, 12, 10, 20, 0), -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Programme* programme = ProgrammeOnAirToday(c.schedule, c.now);
        EXPECT_EQ(programme ? programme->line : -1, c.line);
    }
}

TEST(MillisecondsToNextMinute, CountsToTheMinuteBoundary) {
    EXPECT_EQ(MillisecondsToNextMinute(QDateTime(QDate(2026, 12, 10), QTime(19, 0, 0))), 60000);
    EXPECT_EQ(MillisecondsToNextMinute(QDateTime(QDate(2026, 12, 10), QTime(19, 0, 59, 999))), 1);
    EXPECT_EQ(MillisecondsToNextMinute(QDateTime(QDate(2026, 12, 10), QTime(23, 59, 30, 500))), 29500);
}

} // namespace
