// Prints what the on-air page costs on data folders that a careless or hostile package can leave:
// one listing of 50 MB or of 250 MB, and 50,000 listings of a week each; and what a one-letter
// search costs over 5,000 and 50,000 listings. Each figure comes from a fresh process of this
// program, so its peak memory is its own:
//   - the reading: peak memory above the idle page until the list shows, the time until then, and
//     how long the page's end (as at the program's end) takes while a reading is under way;
//   - the search: "x" typed after the reading, the longest time the window takes no events until
//     the matches show, the time until then, the peak memory above the level after the reading.
// A case named "unbounded-..." lifts the reading's limits, so that a search goes over every listing.
//
//   onair_bench [case ...]   (default: listing-50 listing-250 listings-50000 search-5000 search-50000
//                             unbounded-search-50000)

#include "bench/support/BenchSupport.h"
#include "catalogue/ListingTime.h"
#include "ui/OnAirPage.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <limits>

#include <malloc.h>

namespace {

// A week of one channel, about 9 KB: titles repeat from day to day, series with episode numbers.
QByteArray WeekText(int channel, const QDate& firstDay) {
    static const char16_t* const kShows[] = {u"朝闻天下",   u"新闻30分",   u"今日说法", u"焦点访谈",
                                             u"动物世界",   u"快乐大本营", u"天天向上", u"星光大道",
                                             u"走近科学",   u"人与自然",   u"绿色家园", u"重庆新闻",
                                             u"经济半小时", u"NBA常规赛",  u"体育新闻"};
    QString text = QStringLiteral("频道%1 一周节目预告\n\n").arg(channel);
    for (int day = 0; day < 7; ++day) {
        text += firstDay.addDays(day).toString(QStringLiteral("yyyy-MM-dd")) + u'\n';
        for (int slot = 0; slot < 40; ++slot) {
            const QString title = slot % 3 == 0
                                      ? QStringLiteral("电视剧：山海情长(%1)").arg(day * 14 + slot / 3)
                                      : QString::fromUtf16(kShows[(channel + slot) % 15]);
            text += QStringLiteral("%1:%2 ")
                        .arg(slot * 36 / 60, 2, 10, QChar(u'0'))
                        .arg(slot * 36 % 60, 2, 10, QChar(u'0')) +
                    title + u'\n';
        }
    }
    return "\xEF\xBB\xBF" + text.toUtf8();
}

// One listing of about `megabytes`, a heading a day from `firstDay` on, half-hourly programmes.
void WriteLargeListing(const QString& path, qint64 megabytes, const QDate& firstDay) {
    QString dayLines;
    for (int minute = 0; minute < 24 * 60; minute += 30)
        dayLines += QStringLiteral("%1:%2 电视剧：大宅门(12)\n")
                        .arg(minute / 60, 2, 10, QChar(u'0'))
                        .arg(minute % 60, 2, 10, QChar(u'0'));
    const QByteArray day = dayLines.toUtf8();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        std::exit(1);
    file.write("\xEF\xBB\xBF");
    qint64 written = 0;
    for (QDate date = firstDay; written < megabytes << 20; date = date.addDays(1))
        written += file.write(date.toString(QStringLiteral("yyyy-MM-dd\n")).toUtf8() + day);
}

void WriteListings(const QString& dataFolder, int count, const QDate& firstDay) {
    const char16_t* const kClasses[] = {u"央视频道", u"地方频道", u"数字频道", u"境外频道"};
    for (const char16_t* name : kClasses)
        QDir().mkpath(dataFolder + QString::fromUtf16(name));
    for (int c = 0; c < count; ++c) {
        QFile file(dataFolder + QString::fromUtf16(kClasses[c % 4]) +
                   QStringLiteral("/channel%1.txt").arg(c));
        if (!file.open(QIODevice::WriteOnly))
            std::exit(1);
        file.write(WeekText(c, firstDay));
    }
}

double MiB(long kilobytes) {
    return static_cast<double>(kilobytes) / 1024;
}

int Rows(QAbstractItemView* list) {
    return list->model()->rowCount();
}

struct Page {
    explicit Page(const QString& dataFolder, const QDateTime& now, bool unbounded) {
        page.DataFolder = [dataFolder] { return dataFolder; };
        page.Now = [now] { return now; };
        if (unbounded)
            page.Limits = {std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max()};
        page.resize(616, 361);
    }
    TOnAirPage page;
};

// The child's side: one figure line on standard output.
int Child(const QString& what, const QString& dataFolder, const QDateTime& now, bool unbounded) {
    if (what == u"end") {
        auto* page = new Page(dataFolder, now, unbounded);
        page->page.Refresh();
        QThread::msleep(300); // well into the reading
        QElapsedTimer timer;
        timer.start();
        delete page;
        std::printf("%f\n", Milliseconds(timer));
        return 0;
    }
    Page page(dataFolder, now, unbounded);
    ::malloc_trim(0);
    const long idle = StatusKilobytes("VmRSS");
    ResetPeakMemory();
    QElapsedTimer timer;
    timer.start();
    page.page.Refresh();
    page.page.WaitForRefresh();
    const double readMs = Milliseconds(timer);
    const double readPeak = MiB(StatusKilobytes("VmHWM") - idle);
    if (what == u"read") {
        std::printf("%f %f %d\n", readPeak, readMs, Rows(page.page.OnAirList));
        return 0;
    }
    page.page.show();
    page.page.WaitForRefresh();
    ::malloc_trim(0);
    const long read = StatusKilobytes("VmRSS");
    ResetPeakMemory();
    timer.restart();
    page.page.SearchEdit->setText(QStringLiteral("x"));
    double longest = 0;
    QElapsedTimer stall;
    while (!page.page.MatchList->isVisible() || Rows(page.page.MatchList) == 0) {
        QThread::msleep(1);
        stall.restart();
        QCoreApplication::processEvents();
        longest = std::max(longest, Milliseconds(stall));
    }
    std::printf("%f %f %f %d\n", longest, Milliseconds(timer), MiB(StatusKilobytes("VmHWM") - read),
                Rows(page.page.MatchList));
    return 0;
}

QByteArray RunChild(const char* what, const QString& dataFolder, bool unbounded) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--child"), QString::fromLatin1(what), dataFolder,
                   unbounded ? QStringLiteral("unbounded") : QStringLiteral("bounded")});
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QByteArrayLiteral("failed");
    return process.readAllStandardOutput().trimmed();
}

QList<double> Numbers(const QByteArray& line) {
    QList<double> numbers;
    for (const QByteArray& field : line.split(' '))
        numbers.append(field.toDouble());
    return numbers;
}

} // namespace

int main(int argc, char** argv) {
    BenchApplication application(argc, argv);
    const QDate today = ListingNow().date();
    const QDateTime now = ListingInstant(today, QTime(19, 10));
    if (argc == 5 && qstrcmp(argv[1], "--child") == 0)
        return Child(QString::fromLatin1(argv[2]), QString::fromLocal8Bit(argv[3]), now,
                     qstrcmp(argv[4], "unbounded") == 0);

    QStringList cases;
    for (int i = 1; i < argc; ++i)
        cases << QString::fromLocal8Bit(argv[i]);
    if (cases.isEmpty())
        cases = {u"listing-50"_qs,  u"listing-250"_qs,  u"listings-50000"_qs,
                 u"search-5000"_qs, u"search-50000"_qs, u"unbounded-search-50000"_qs};
    PrintLoad();
    for (const QString& name : cases) {
        QTemporaryDir root;
        const QString dataFolder = root.path() + QStringLiteral("/ZORQListTemp/");
        const bool unbounded = name.startsWith(u"unbounded-");
        const QString kind = name.section(u'-', -2, -2);
        const int size = name.section(u'-', -1, -1).toInt();
        if (kind == u"listing") {
            QDir().mkpath(dataFolder + QStringLiteral("央视频道"));
            WriteLargeListing(dataFolder + QStringLiteral("央视频道/01.txt"), size, today);
        } else {
            WriteListings(dataFolder, size, today);
        }
        std::printf("%s:\n", qPrintable(name));
        if (kind == u"search") {
            const QByteArray figures = RunChild("search", dataFolder, unbounded);
            const QList<double> n = Numbers(figures);
            if (n.size() == 4)
                std::printf(
                    "  search \"x\": window takes no events for %.0f ms at most; shown after %.0f ms; "
                    "peak +%.0f MiB above the read page; %.0f rows\n",
                    n[0], n[1], n[2], n[3]);
            else
                std::printf("  search \"x\": %s\n", figures.constData());
            continue;
        }
        const QByteArray read = RunChild("read", dataFolder, unbounded);
        const QList<double> n = Numbers(read);
        if (n.size() == 3)
            std::printf("  reading: peak +%.0f MiB above the idle page, shown after %.0f ms, %.0f rows\n",
                        n[0], n[1], n[2]);
        else
            std::printf("  reading: %s\n", read.constData());
        std::printf("  the page's end 300 ms into a reading takes %s ms\n",
                    RunChild("end", dataFolder, unbounded).constData());
    }
    PrintLoad();
    return 0;
}
