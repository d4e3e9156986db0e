// Prints what the on-air page and the programme search cost on a generated package of 200 channels
// by a week (about 60,000 programmes): how long the page's refresh keeps the window from taking
// events, the first time after start and later, and when its list shows; the on-air list from the
// files next to reading the files alone (paired runs, medians of each and of the ratios, clock and
// processor time); one search keystroke with the pinyin keys warm, the first search after start
// (ICU's rules compiled for it, or compiled at idle beforehand as the program does), and the
// memory the guide and its search index take (from /proc, so it holds in any build).
//
//   guide_bench [channels, default 200]
//
// The figures of the first refresh and search after start come from fresh runs of this program.

#include "bench/support/BenchSupport.h"
#include "catalogue/CatalogueWalk.h"
#include "catalogue/ListingFile.h"
#include "catalogue/ListingTime.h"
#include "guide/Guide.h"
#include "guide/GuideSearch.h"
#include "ui/OnAirPage.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include <malloc.h>

namespace {

constexpr int kDays = 7;
constexpr int kPairs = 7;

// The channels that relay the evening news at 19:00, as the central and the provincial channels
// do: those of the first two class folders.
bool CarriesEveningNews(int channel) {
    return channel % 4 < 2;
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
    const QTime eveningNews(19, 0);
    bool newsShown = !CarriesEveningNews(channel);
    QString text = date.toString(QStringLiteral("yyyy-MM-dd")) + u'\n';
    QTime time(6, 0);
    for (int slot = 0; slot < 43; ++slot) {
        QString title;
        if (!newsShown && time >= eveningNews) {
            // The programme before ends early for the news.
            time = eveningNews;
            title = QStringLiteral("新闻联播");
            newsShown = true;
        } else if (slot % 3 == 0) {
            title = QString::fromUtf16(kSeries[(channel + slot) % 5]) +
                    QStringLiteral("(%1)").arg(day * 3 + slot % 7 + 1);
        } else {
            title = QString::fromUtf16(kShows[(channel * 7 + slot) % 15]);
        }
        text += time.toString(QStringLiteral("HH:mm")) + u' ' + title + u'\n';
        time = time.addSecs(time == eveningNews ? 30 * 60 : slot % 2 == 0 ? 25 * 60 : 20 * 60);
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

// Memory taken by what `build` makes and keeps, and at its peak, in MiB above what was in use
// before. Freed heap pages go back to the system first, so earlier runs do not hide the growth.
struct Memory {
    double keptMiB;
    double peakMiB;
};

template <typename Build> Memory MemoryOf(Build build) {
    ::malloc_trim(0);
    const long before = StatusKilobytes("VmRSS");
    ResetPeakMemory();
    build();
    const long peak = StatusKilobytes("VmHWM");
    ::malloc_trim(0);
    const long kept = StatusKilobytes("VmRSS");
    return {static_cast<double>(kept - before) / 1024, static_cast<double>(peak - before) / 1024};
}

// A refresh of the page as the window lives it: the longest time the event loop was kept from
// taking events, and the time until the list shows every channel.
struct Refresh {
    double longestStallMs;
    double shownMs;
};

Refresh TimeRefresh(TOnAirPage& page, int channels) {
    QElapsedTimer shown;
    shown.start();
    QElapsedTimer stall;
    stall.start();
    page.Refresh();
    double longest = Milliseconds(stall);
    while (page.IsReading()) {
        QThread::msleep(1);
        stall.restart();
        QCoreApplication::processEvents();
        longest = std::max(longest, Milliseconds(stall));
    }
    if (page.OnAirList->model()->rowCount() != channels)
        std::exit(2);
    return {longest, Milliseconds(shown)};
}

// A search typed into the page, after its pause: the longest time the window takes no events until
// the matches show.
double TimeSearchShown(TOnAirPage& page, const QString& typed) {
    page.SearchEdit->clear();
    page.SearchEdit->setText(typed);
    double longest = 0;
    QElapsedTimer stall;
    while (!page.MatchList->isVisible() || page.MatchList->model()->rowCount() == 0) {
        QThread::msleep(1);
        stall.restart();
        QCoreApplication::processEvents();
        longest = std::max(longest, Milliseconds(stall));
    }
    return longest;
}

// The figures of a fresh process, where nothing of ICU is loaded yet; printed as numbers.
int FirstAfterStart(const QString& what, const QString& dataFolder, int channels, const QDateTime& now) {
    if (what == u"--first-refresh") {
        // The page shown: the guide read, every distinct title's keys worked out, the list shown.
        TOnAirPage page;
        page.DataFolder = [&] { return dataFolder; };
        page.Now = [&] { return now; };
        page.resize(616, 361);
        const Refresh refresh = TimeRefresh(page, channels);
        std::printf("%f %f\n", refresh.longestStallMs, refresh.shownMs);
        return 0;
    }
    // The search alone: ICU's transliterator made, the keys of every distinct title, one search. The
    // program has ICU compile its rules once it is idle after the start, long before anyone can type:
    // "--first-search-prepared" does that first, as the program does.
    std::optional<PinyinRulesCompilation> rules;
    if (what == u"--first-search-prepared")
        rules.emplace();
    const auto guide = std::make_shared<const Guide>(LoadGuide(dataFolder, now.date()));
    if (rules)
        rules->Wait();
    qsizetype found = 0;
    const Timing search = Timed([&] {
        PinyinCache cache;
        const GuideSearch index(guide, cache);
        found = index.Find(u"xwlb", now).size();
    });
    std::printf("%f %f %lld\n", search.ms, search.cpuMs, static_cast<long long>(found));
    return 0;
}

// Runs this program again for FirstAfterStart and reads its numbers.
std::vector<double> RunFirstAfterStart(const char* what, const QString& dataFolder, int channels) {
    return RunSelf({QString::fromLatin1(what), dataFolder, QString::number(channels)});
}

} // namespace

int main(int argc, char** argv) {
    BenchApplication application(argc, argv);
    const QDate today = ListingNow().date();
    const QDateTime now = ListingInstant(today, QTime(19, 10));
    if (argc == 4)
        return FirstAfterStart(QString::fromLatin1(argv[1]), QString::fromLocal8Bit(argv[2]),
                               std::atoi(argv[3]), now);
    const int channels = argc > 1 ? std::atoi(argv[1]) : 200;
    QTemporaryDir root;
    const QString dataFolder = root.path() + QStringLiteral("/ZORQListTemp/");
    WritePackage(dataFolder, channels, today);
    PrintLoad("before");

    const std::vector<double> firstRefresh = RunFirstAfterStart("--first-refresh", dataFolder, channels);
    const std::vector<double> firstSearch = RunFirstAfterStart("--first-search", dataFolder, channels);
    const std::vector<double> preparedSearch =
        RunFirstAfterStart("--first-search-prepared", dataFolder, channels);
    TOnAirPage page;
    // Copies on every call: the page asks again for each refresh (nothing here may be moved from).
    page.DataFolder = [&] { return dataFolder; }; // NOLINT(performance-no-automatic-move)
    page.Now = [&] { return now; };               // NOLINT(performance-no-automatic-move)
    page.resize(616, 361);
    std::vector<double> stalls, shownMs;
    for (int i = 0; i < kPairs; ++i) {
        const Refresh refresh = TimeRefresh(page, channels);
        stalls.push_back(refresh.longestStallMs);
        shownMs.push_back(refresh.shownMs);
    }

    page.show();
    page.WaitForRefresh();
    std::vector<double> searchStalls;
    searchStalls.reserve(kPairs);
    for (int i = 0; i < kPairs; ++i)
        searchStalls.push_back(TimeSearchShown(page, QStringLiteral("xwlb")));
    const qsizetype matchesShown = page.MatchList->model()->rowCount();
    page.hide();

    // The product is the on-air list from the files; its peer, reading the same files alone.
    const PairedTimings onAir = RunPairs(
        kPairs,
        [&] {
            return Timed([&] {
                const Guide guide = LoadGuide(dataFolder, today);
                if (OnAirRows(guide, now).size() != channels)
                    std::exit(2);
            });
        },
        [&] {
            return Timed([&] {
                for (const QString& path : CollectCatalogue(dataFolder).listingPaths)
                    LoadListingLines(path);
            });
        });

    // Memory of the guide (parsed schedules) and of the search index with its keys.
    std::shared_ptr<const Guide> guide;
    const Memory guideMemory =
        MemoryOf([&] { guide = std::make_shared<const Guide>(LoadGuide(dataFolder, today)); });
    PinyinCache cache;
    std::unique_ptr<GuideSearch> search;
    const Memory indexMemory = MemoryOf([&] { search = std::make_unique<GuideSearch>(guide, cache); });
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

    const auto perTenThousand = [programmes](double mib) { return mib / programmes * 1e4; };
    std::printf("channels %d, days %d, programmes %.0f, distinct titles %lld\n", channels, kDays, programmes,
                static_cast<long long>(cache.size()));
    std::printf("page refresh, longest time the window takes no events / until the list shows:\n");
    std::printf("  first after start: %.1f / %.1f ms; later: medians %.1f / %.1f ms\n", firstRefresh.at(0),
                firstRefresh.at(1), Median(stalls), Median(shownMs));
    std::printf("medians of %d pairs (clock / processor):\n", kPairs);
    std::printf("  read the listings alone (LoadListingLines): %8.1f / %8.1f ms\n", onAir.clock.Peer(),
                onAir.cpu.Peer());
    std::printf("  on-air list from the files:                 %8.1f / %8.1f ms  (%.2fx, median of ratios; "
                "processor %.2fx)\n",
                onAir.clock.Product(), onAir.cpu.Product(), onAir.clock.Ratio(), onAir.cpu.Ratio());
    std::printf("first search after start (cold keys): %.1f / %.1f ms  (%.0f matches of xwlb)\n",
                firstSearch.at(0), firstSearch.at(1), firstSearch.at(2));
    std::printf("  the same with ICU's rules compiled at idle, as the program does: %.1f / %.1f ms\n",
                preparedSearch.at(0), preparedSearch.at(1));
    std::printf("search keystroke, warm: median %.2f ms, max %.2f ms over %zu\n", Median(keystrokes),
                *std::max_element(keystrokes.begin(), keystrokes.end()), keystrokes.size());
    std::printf("search shown in the page (xwlb, %lld rows): longest time the window takes no events, median "
                "%.1f ms\n",
                static_cast<long long>(matchesShown), Median(searchStalls));
    std::printf(
        "memory per 10,000 programmes (kept / peak): guide %.2f / %.2f MiB, search index %.2f / %.2f MiB\n",
        perTenThousand(guideMemory.keptMiB), perTenThousand(guideMemory.peakMiB),
        perTenThousand(indexMemory.keptMiB), perTenThousand(indexMemory.peakMiB));
    PrintLoad("after");
    return 0;
}
