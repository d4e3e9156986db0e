// Prints what the window's pages cost the start, each in a fresh process of this program, so that
// every figure is a first one, as at a real start: the window made (started with an argument, so
// without a scan) until shown; the on-air page, which the window makes at start, made alone (paying
// the first use of the style and the fonts, which the window shares) and made again after the
// window; and the pages 节目单 and 节目源, which are made when first shown. Medians of several
// processes.
//
//   pages_bench [processes, default 7]

#include "bench/support/BenchSupport.h"
#include "ui/GridPage.h"
#include "ui/OnAirPage.h"
#include "ui/SourcesPage.h"
#include "ui/Unit1.h"

#include <QDir>
#include <QElapsedTimer>
#include <QList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The figures of a child, in milliseconds, for `what` in a process where nothing of the window was
// made before.
QList<double> Child(const QString& what) {
    QTemporaryDir program;
    QDir::setCurrent(program.path());
    QElapsedTimer timer;
    timer.start();
    if (what == u"on-air") {
        const auto makePage = [&timer] {
            timer.restart();
            TOnAirPage page;
            page.resize(616, 361);
            return Milliseconds(timer);
        };
        const double alone = makePage();
        TForm1 window(TStartup{program.path() + u"/pelnavi"_qs, {u"x"_qs}});
        window.show();
        QCoreApplication::processEvents();
        return {alone, makePage()};
    }
    TForm1 window(TStartup{program.path() + u"/pelnavi"_qs, {u"x"_qs}});
    window.show();
    QCoreApplication::processEvents();
    const double shown = Milliseconds(timer);
    if (what == u"window")
        return {shown, window.findChild<TSourcesPage*>() == nullptr ? 0.0 : 1.0,
                window.findChild<TGridPage*>() == nullptr ? 0.0 : 1.0};
    timer.restart();
    window.PageControl1->setCurrentWidget(what == u"grid" ? window.TabSheet_Grid : window.TabSheet_Sources);
    QCoreApplication::processEvents();
    return {Milliseconds(timer)};
}

std::vector<double> RunChild(const char* what) {
    return RunSelf({QStringLiteral("--child"), QString::fromLatin1(what)});
}

} // namespace

int main(int argc, char** argv) {
    BenchApplication application(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0) {
        for (const double figure : Child(QString::fromLatin1(argv[2])))
            std::printf("%f ", figure);
        std::printf("\n");
        return 0;
    }
    const int processes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    PrintLoad("before");
    std::vector<double> window, onAirAlone, onAirAfter, grid, sources;
    bool sourcesMadeAtStart = false;
    bool gridMadeAtStart = false;
    for (int i = 0; i < processes; ++i) {
        const std::vector<double> made = RunChild("window");
        window.push_back(made.at(0));
        sourcesMadeAtStart = sourcesMadeAtStart || made.at(1) != 0;
        gridMadeAtStart = gridMadeAtStart || made.at(2) != 0;
        const std::vector<double> onAir = RunChild("on-air");
        onAirAlone.push_back(onAir.at(0));
        onAirAfter.push_back(onAir.at(1));
        grid.push_back(RunChild("grid").at(0));
        sources.push_back(RunChild("sources").at(0));
    }
    std::printf("first figures of a process, medians of %d processes:\n", processes);
    std::printf("  the window made and shown (no scan)             %8.1f ms\n", Median(window));
    std::printf("  the on-air page, made with the window at start: alone %.1f ms, after the window %.1f ms "
                "(%.0f %% of the window)\n",
                Median(onAirAlone), Median(onAirAfter), Median(onAirAfter) / Median(window) * 100);
    std::printf("  the page 节目单, made when first shown          %8.1f ms  (%s at start)\n", Median(grid),
                gridMadeAtStart ? "BUT ALSO MADE" : "not made");
    std::printf("  the page 节目源, made when first shown          %8.1f ms  (%s at start)\n",
                Median(sources), sourcesMadeAtStart ? "BUT ALSO MADE" : "not made");
    PrintLoad("after");
    return 0;
}
