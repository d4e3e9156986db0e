// Prints what the on-air page and the programme search cost on a generated package of 200 channels
// by a week (about 60,000 programmes): the on-air list from the files next to reading the files
// alone, one search keystroke with the pinyin keys warm, the first search after start, and the
// memory the guide and its search index take.
//
//   guide_bench [channels, default 200]

#include "catalogue/CatalogueWalk.h"
#include "catalogue/ListingFile.h"
#include "guide/Guide.h"
#include "guide/GuideSearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <vector>

#include <malloc.h>

namespace {

constexpr int kDays = 7;
constexpr int kRepeats = 5;

double Milliseconds(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

double BestOf(const std::function<void()>& run) {
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < kRepeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = std::min(best, Milliseconds(timer));
    }
    return best;
}

// A day of programmes like a package's: news at fixed hours, series with episode numbers (so
// titles differ from day to day), shows and films.
QString DayText(int channel, const QDate& date, int day) {
    static const char16_t* const kShows[] = {u"朝闻天下",   u"新闻30分",   u"今日说法", u"焦点访谈",
                                             u"动物世界",   u"快乐大本营", u"天天向上", u"星光大道",
                                             u"走近科学",   u"人与自然",   u"绿色家园", u"重庆新闻",
                                             u"经济半小时", u"NBA常规赛",  u"体育新闻"};
    static const char16_t* const kSeries[] = {u"电视剧：山海情长", u"电视剧：大江大河", u"电视剧：人世间",
                                              u"动画片：熊出没", u"电视剧：父母爱情"};
    QString text = date.toString(QStringLiteral("yyyy-MM-dd")) + u'\n';
    QTime time(6, 0);
    for (int slot = 0; slot < 43; ++slot) {
        QString title;
        if (time.hour() == 19 && time.minute() == 0)
            title = QStringLiteral("新闻联播");
        else if (slot % 3 == 0)
            title = QString::fromUtf16(kSeries[(channel + slot) % 5]) +
                    QStringLiteral("(%1)").arg(day * 3 + slot % 7 + 1);
        else
            title = QString::fromUtf16(kShows[(channel * 7 + slot) % 15]);
        text += time.toString(QStringLiteral("HH:mm")) + u' ' + title + u'\n';
        time = time.addSecs(slot % 2 == 0 ? 25 * 60 : 20 * 60);
    }
    return text;
}

void WritePackage(const QString& dataFolder, int channels, const QDate& firstDay) {
    const char16_t* const kClasses[] = {u"央视频道", u"地方频道", u"数字频道", u"境外频道"};
    for (int c = 0; c < channels; ++c) {
        const QString folder = dataFolder + QString::fromUtf16(kClasses[c % 4]) + u'/';
        QDir().mkpath(folder);
        QString text = QStringLiteral("频道%1 一周节目预告\n\n").arg(c);
        for (int day = 0; day < kDays; ++day)
            text += DayText(c, firstDay.addDays(day), day) + u'\n';
        QFile file(folder + QStringLiteral("channel%1.txt").arg(c, 3, 10, QChar(u'0')));
        if (!file.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            std::exit(1);
        }
        file.write("\xEF\xBB\xBF" + text.toUtf8());
    }
}

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int channels = argc > 1 ? std::atoi(argv[1]) : 200;
    QTemporaryDir root;
    const QString dataFolder = root.path() + QStringLiteral("/ZORQListTemp/");
    const QDate today = QDate::currentDate();
    const QDateTime now(today, QTime(19, 10));
    WritePackage(dataFolder, channels, today);

    // The first search after start: ICU's transliterator made, every distinct title's keys worked
    // out, one search. The files are read before, as the page reads them when shown.
    const Guide firstGuide = LoadGuide(dataFolder, today);
    QElapsedTimer first;
    first.start();
    PinyinCache coldCache;
    const GuideSearch coldSearch(firstGuide, coldCache);
    const qsizetype firstFound = coldSearch.Find(u"xwlb", now).size();
    const double firstSearch = Milliseconds(first);

    const double readOnly = BestOf([&] {
        for (const QString& path : CollectCatalogue(dataFolder).listingPaths)
            LoadListingLines(path);
    });
    const double onAirList = BestOf([&] {
        const Guide guide = LoadGuide(dataFolder, today);
        if (OnAirRows(guide, now).size() != channels)
            std::exit(2);
    });

    // Memory of the guide (parsed schedules) and of the search index with its keys.
    const size_t before = HeapInUse();
    auto guide = std::make_unique<Guide>(LoadGuide(dataFolder, today));
    const size_t afterGuide = HeapInUse();
    PinyinCache cache;
    auto search = std::make_unique<GuideSearch>(*guide, cache);
    const size_t afterIndex = HeapInUse();
    const double programmes = static_cast<double>(search->ProgrammeCount());

    std::vector<double> keystrokes;
    const char16_t* const kTyped[] = {u"x",    u"xw",   u"xwl",   u"xwlb", u"xinwen",
                                      u"新闻", u"山海", u"频道1", u"zzz"};
    for (int round = 0; round < 20; ++round)
        for (const char16_t* typed : kTyped) {
            QElapsedTimer timer;
            timer.start();
            search->Find(QStringView(typed), now);
            keystrokes.push_back(Milliseconds(timer));
        }
    std::sort(keystrokes.begin(), keystrokes.end());

    std::printf("channels %d, days %d, programmes %.0f, distinct titles %lld\n", channels, kDays, programmes,
                static_cast<long long>(cache.size()));
    std::printf("read the listings alone (LoadListingLines): %8.1f ms\n", readOnly);
    std::printf("on-air list from the files:                 %8.1f ms  (%.2fx)\n", onAirList,
                onAirList / readOnly);
    std::printf("first search after start (cold keys):       %8.1f ms  (%lld matches of xwlb)\n", firstSearch,
                static_cast<long long>(firstFound));
    std::printf("search keystroke, warm: median %.2f ms, max %.2f ms over %zu\n",
                keystrokes[keystrokes.size() / 2], keystrokes.back(), keystrokes.size());
    std::printf("memory per 10,000 programmes: guide %.2f MiB, search index %.2f MiB\n",
                static_cast<double>(afterGuide - before) / programmes * 1e4 / 1048576.0,
                static_cast<double>(afterIndex - afterGuide) / programmes * 1e4 / 1048576.0);
    return 0;
}
