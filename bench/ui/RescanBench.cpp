// Prints how long the user waits for a rescan: the click on LoadData until the window's three lists
// are laid out and the channel list is painted once, next to `find DIR -name '*txt'` over the same
// folder in the same run. Paired runs (find, then the click), medians of each and of the ratios, by
// the clock and by processor time (find's own, start included; the window's whole process).
//
//   rescan_bench [file counts ...]   (default 1000 5000 20000 50000)

#include "bench/support/BenchSupport.h"
#include "ui/Unit1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kFilesPerFolder = 50;
constexpr int kPairs = 7;

// `count` listing files below `folder`, fifty to a folder, named like those of a schedule package.
void BuildFolder(const QString& folder, int count) {
    const QStringList stems = {u"01"_qs,         u"04(亚洲)"_qs, u"13"_qs,           u"anhui卫视"_qs,
                               u"北京电视台"_qs, u"news"_qs,     u"heilongjiang"_qs, u"CCTV-新闻"_qs,
                               u"xiamen旅游"_qs, u"Beijing"_qs};
    for (int i = 0; i < count; ++i) {
        const QString subfolder = QStringLiteral("%1/省%2/").arg(folder).arg(i / kFilesPerFolder);
        if (i % kFilesPerFolder == 0)
            QDir().mkpath(subfolder);
        QFile file(subfolder + stems[i % stems.size()] + QString::number(i) +
                   (i % 5 ? u".txt"_qs : u".TXT"_qs));
        file.open(QIODevice::WriteOnly);
    }
}

struct Timed {
    double ms;
    double cpuMs;
};

Timed TimeFind(const QString& folder) {
    const double cpuBefore = CpuMilliseconds(RUSAGE_CHILDREN);
    const double ms = RunTool(u"find"_qs, {folder, u"-name"_qs, u"*txt"_qs});
    return {ms, CpuMilliseconds(RUSAGE_CHILDREN) - cpuBefore};
}

Timed TimeRescan(TForm1& window, PaintWatch& watch) {
    const double cpuBefore = CpuMilliseconds();
    watch.Arm();
    QElapsedTimer timer;
    timer.start();
    window.LoadData->click();
    watch.Wait();
    // The worker lists are never painted (they lie outside the window); asking for an item's place
    // carries out any layout still pending on them.
    for (QListWidget* list : {window.TVList, window.TVFilepathList, window.filepathList})
        if (list->count() > 0)
            list->visualItemRect(list->item(list->count() - 1));
    return {Milliseconds(timer), CpuMilliseconds() - cpuBefore};
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {1000, 5000, 20000, 50000};

    std::printf("rescan: LoadData click until laid out and painted, vs find; medians of %d paired runs\n",
                kPairs);
    std::printf("%8s %12s %12s %8s %14s %12s %12s %8s\n", "files", "find ms", "rescan ms", "ratio",
                "rescan us/file", "find cpu", "rescan cpu", "ratio");
    for (const int count : counts) {
        // The real window in a scratch program folder, started with an argument (no scan at start).
        QTemporaryDir program;
        QDir::setCurrent(program.path());
        const QString classFolder = program.path() + u"/ZORQListTemp/央视频道"_qs;
        BuildFolder(classFolder, count);
        auto window = std::make_unique<TForm1>(TStartup{program.path() + u"/pelnavi"_qs, {u"x"_qs}});
        PaintWatch watch(window->TVList->viewport());
        watch.Arm();
        window->show();
        watch.Wait();

        TimeFind(classFolder); // warms the caches for both
        TimeRescan(*window, watch);
        std::vector<double> finds, rescans, ratios, findCpus, rescanCpus, cpuRatios;
        for (int pair = 0; pair < kPairs; ++pair) {
            const Timed find = TimeFind(classFolder);
            const Timed rescan = TimeRescan(*window, watch);
            finds.push_back(find.ms);
            rescans.push_back(rescan.ms);
            ratios.push_back(rescan.ms / find.ms);
            findCpus.push_back(find.cpuMs);
            rescanCpus.push_back(rescan.cpuMs);
            cpuRatios.push_back(rescan.cpuMs / find.cpuMs);
        }
        if (window->TVList->count() != count || window->TVFilepathList->count() != count) {
            std::fprintf(stderr, "the rescan listed %d of %d files\n", window->TVList->count(), count);
            return 1;
        }
        std::printf("%8d %12.1f %12.1f %7.2fx %14.2f %12.1f %12.1f %7.2fx\n", count, Median(finds),
                    Median(rescans), Median(ratios), Median(rescans) * 1000 / count, Median(findCpus),
                    Median(rescanCpus), Median(cpuRatios));
        window.reset();
        QDir::setCurrent(QDir::rootPath());
    }
    return 0;
}
