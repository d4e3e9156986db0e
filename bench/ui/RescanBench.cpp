// Prints how long the user waits for a rescan: the click on LoadData until the window's three lists
// are laid out and the channel list is painted once, next to `find DIR -name '*txt'` over the same
// folder in the same run. Paired runs (find and the click), medians of each and of the ratios, by
// the clock and by processor time (find's own, start included; the window's whole process).
//
//   rescan_bench [file counts ...]   (default 1000 5000 20000 50000)

#include "bench/support/BenchSupport.h"
#include "ui/Unit1.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>
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

Timing TimeFind(const QString& folder) {
    return Timed([&] { RunTool(u"find"_qs, {folder, u"-name"_qs, u"*txt"_qs}); }, RUSAGE_CHILDREN);
}

Timing TimeRescan(TForm1& window, PaintWatch& watch) {
    return Timed([&] {
        watch.Arm();
        window.LoadData->click();
        watch.Wait();
        // The worker lists are never painted (they lie outside the window); asking for an item's
        // place carries out any layout still pending on them.
        for (TListBox* list : {window.TVList, window.TVFilepathList, window.filepathList})
            if (list->count() > 0)
                list->visualItemRect(list->count() - 1);
    });
}

} // namespace

int main(int argc, char** argv) {
    BenchApplication application(argc, argv);
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {1000, 5000, 20000, 50000};

    std::printf("rescan: LoadData click until laid out and painted, vs find; medians of %d paired runs\n",
                kPairs);
    PrintLoad("before");
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
        const PairedTimings rescan = RunPairs(
            kPairs, [&] { return TimeRescan(*window, watch); }, [&] { return TimeFind(classFolder); });
        if (window->TVList->count() != count || window->TVFilepathList->count() != count) {
            std::fprintf(stderr, "the rescan listed %d of %d files\n", window->TVList->count(), count);
            return 1;
        }
        std::printf("%8d %12.1f %12.1f %7.2fx %14.2f %12.1f %12.1f %7.2fx\n", count, rescan.clock.Peer(),
                    rescan.clock.Product(), rescan.clock.Ratio(), rescan.clock.Product() * 1000 / count,
                    rescan.cpu.Peer(), rescan.cpu.Product(), rescan.cpu.Ratio());
        window.reset();
        QDir::setCurrent(QDir::rootPath());
    }
    PrintLoad("after");
    return 0;
}
