// What is on now, on the on-air page, in its search and in the listing's mark, goes by Beijing time
// whatever zone the machine is set to. It used to go by the machine's clock: in Berlin the page
// showed what aired 7 or 6 hours earlier, in Los Angeles 15 or 16 hours earlier.
//
// The checks at fixed instants pass in any zone; one test runs them again in child processes of
// this program with TZ set to each zone. A child starts afresh in its zone, as the program would:
// setting TZ within this process leaves whatever Qt and the C library have already taken of the
// machine's zone.
#include "catalogue/ListingTime.h"
#include "tests/ui/WindowFixture.h"
#include "ui/ListingMark.h"
#include "ui/OnAirPage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTreeView>

#include <algorithm>
#include <iterator>

namespace {

// The days of the listing: a programme "节目HH" every hour. Their order in the listing is theirs.
const QDate kDays[] = {QDate(2026, 3, 8), QDate(2026, 3, 29), QDate(2026, 11, 1), QDate(2026, 12, 10)};
constexpr int kLinesPerDay = 25; // the heading and 24 programmes

QString Listing() {
    QString text;
    for (const QDate& day : kDays) {
        text += day.toString(u"yyyy-MM-dd") + u'\n';
        for (int hour = 0; hour < 24; ++hour)
            text += QStringLiteral("%1:00 节目%1\n").arg(hour, 2, 10, QChar(u'0'));
    }
    return text;
}

QString Title(int hour) {
    return QStringLiteral("节目%1").arg(hour, 2, 10, QChar(u'0'));
}

struct Moment {
    const char* what;
    const char* utc;
    QDate beijingDay;
    int beijingHour;
    const char* clock;
};

// Instants around the nights the clocks change in Berlin (2026-03-29 01:00 UTC) and in Los Angeles
// (2026-03-08 10:00 UTC, 2026-11-01 09:00 UTC), and an ordinary evening.
const Moment kMoments[] = {
    {"an ordinary evening", "2026-12-10T12:00:00Z", QDate(2026, 12, 10), 20, "北京时间 20:00"},
    {"Berlin just after its clocks went forward", "2026-03-29T01:30:00Z", QDate(2026, 3, 29), 9,
     "北京时间 09:30"},
    {"Beijing's day begun, Berlin's not", "2026-03-28T17:10:00Z", QDate(2026, 3, 29), 1, "北京时间 01:10"},
    {"Los Angeles just after its clocks went forward", "2026-03-08T10:30:00Z", QDate(2026, 3, 8), 18,
     "北京时间 18:30"},
    {"Los Angeles at 01:30 the first time", "2026-11-01T08:30:00Z", QDate(2026, 11, 1), 16, "北京时间 16:30"},
    {"Los Angeles at 01:30 the second time", "2026-11-01T09:30:00Z", QDate(2026, 11, 1), 17,
     "北京时间 17:30"},
};

QDateTime InstantOf(const Moment& moment) {
    return QDateTime::fromString(QString::fromLatin1(moment.utc), Qt::ISODate);
}

// A child asked to run in a zone runs in it: without the zone's data the C library would take UTC.
void ExpectTheMachineInTheZoneOfTz() {
    const QByteArray zone = qgetenv("TZ");
    if (zone.isEmpty())
        return;
    ASSERT_TRUE(QTimeZone(zone).isValid()) << zone.toStdString();
    for (const Moment& moment : kMoments)
        ASSERT_EQ(InstantOf(moment).toLocalTime().offsetFromUtc(),
                  QTimeZone(zone).offsetFromUtc(InstantOf(moment)))
            << zone.toStdString() << " " << moment.utc;
}

class BeijingTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(folder_.filePath(QStringLiteral("央视频道"))));
        QFile file(folder_.filePath(QStringLiteral("央视频道/01.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("\xEF\xBB\xBF" + Listing().toUtf8());
    }
    QString DataFolder() const { return folder_.path() + u'/'; }

private:
    QTemporaryDir folder_;
};

TEST_F(BeijingTimeTest, TheOnAirPageAndItsSearchAtFixedInstants) {
    ASSERT_NO_FATAL_FAILURE(ExpectTheMachineInTheZoneOfTz());
    TOnAirPage page;
    page.resize(616, 361);
    page.DataFolder = [this] { return DataFolder(); };
    QDateTime now;
    page.Now = [&now] { return now; };
    const QColor grey = page.palette().color(QPalette::Disabled, QPalette::Text);
    for (const Moment& moment : kMoments) {
        SCOPED_TRACE(moment.what);
        now = InstantOf(moment);
        page.SearchEdit->clear();
        page.Refresh();
        page.WaitForRefresh();
        const int hour = moment.beijingHour;
        const QAbstractItemModel& onAir = *page.OnAirList->model();
        ASSERT_EQ(onAir.rowCount(), 1);
        EXPECT_EQ(onAir.index(0, 1).data().toString(), Title(hour));
        EXPECT_EQ(onAir.index(0, 2).data().toString(), QStringLiteral("%1:00").arg(hour, 2, 10, QChar(u'0')));
        EXPECT_EQ(onAir.index(0, 3).data().toString(), Title(hour + 1));
        EXPECT_EQ(page.Clock->text(), QString::fromUtf8(moment.clock));

        // The programme of the hour before has just ended: past today and on the days before,
        // upcoming on the days after, which come first.
        page.SearchEdit->setText(Title(hour - 1));
        ASSERT_TRUE(WaitUntil([&] { return !page.MatchList->isHidden() && !page.IsSearching(); }));
        const QAbstractItemModel& matches = *page.MatchList->model();
        ASSERT_EQ(matches.rowCount(), static_cast<int>(std::size(kDays)));
        for (int row = 0; row < matches.rowCount(); ++row) {
            const QString day = matches.index(row, 0).data().toString().left(5);
            const bool past = matches.index(row, 0).data(Qt::ForegroundRole).value<QColor>() == grey;
            const bool later = day > moment.beijingDay.toString(u"MM-dd");
            EXPECT_EQ(past, !later) << day.toStdString();
            if (row > 0 && later) {
                EXPECT_TRUE(matches.index(row - 1, 0).data().toString().left(5) < day) << "earliest first";
            }
        }
    }
}

TEST_F(BeijingTimeTest, TheListingsMarkAtFixedInstants) {
    ASSERT_NO_FATAL_FAILURE(ExpectTheMachineInTheZoneOfTz());
    QPlainTextEdit memo;
    TListingMark mark(&memo);
    QDateTime now;
    mark.Now = [&now] { return now; };
    memo.setPlainText(Listing());
    for (const Moment& moment : kMoments) {
        SCOPED_TRACE(moment.what);
        now = InstantOf(moment);
        mark.Show(memo.toPlainText());
        const auto day = std::find(std::begin(kDays), std::end(kDays), moment.beijingDay) - std::begin(kDays);
        EXPECT_EQ(mark.MarkedLine(), day * kLinesPerDay + 1 + moment.beijingHour);
    }
}

TEST(BeijingTimeInEveryZone, TheOnAirPageItsSearchAndTheMarkGoByBeijingTime) {
    for (const char* zone : {"Asia/Shanghai", "Europe/Berlin", "America/Los_Angeles"}) {
        SCOPED_TRACE(zone);
        ASSERT_TRUE(QTimeZone(zone).isValid()) << "the time-zone data (package tzdata) is needed";
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TZ"), QString::fromLatin1(zone));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=BeijingTimeTest.*")});
        ASSERT_TRUE(child.waitForFinished(120000));
        const QByteArray output = child.readAll();
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains("[  PASSED  ] 2 tests.")) << output.toStdString();
    }
}

} // namespace
