// Prints how long a click on a channel with a large listing keeps the user waiting (until the memo
// is painted) and how much memory it takes at its peak, next to `iconv -f GBK -t UTF-8` of the same
// file in the same run; the same click without the mark, and with a block a line instead of the
// memo's blocks of lines; then where the time goes: reading and decoding, the text document, the paint.
// Paired runs (iconv, then the click), medians of each and of the ratios.
//
//   memo_bench [listing sizes in KB ...]   (default 10 1024 10240 51200)

#include "bench/support/BenchSupport.h"
#include "catalogue/ListingFile.h"
#include "catalogue/ListingTime.h"
#include "ui/ListingMark.h"
#include "ui/ListingMemo.h"
#include "ui/Unit1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextDocument>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <malloc.h>

namespace {

constexpr int kPairs = 5; // 3 for listings over 1 MB

struct Shown {
    double ms;
    double cpuMs;
    double peakMegabytes; // above the memory in use before the click
};

// Runs `show` with the memo emptied before, until the memo is painted.
template <typename Show> Shown TimeShown(TForm1& window, PaintWatch& watch, Show show) {
    window.TVListBox->clear();
    watch.Arm();
    watch.Wait();
    // Memory freed by the run before goes back to the system, so the peak is this run's own.
    ::malloc_trim(0);
    const long before = StatusKilobytes("VmRSS");
    ResetPeakMemory();
    watch.Arm();
    const double cpuBefore = CpuMilliseconds();
    QElapsedTimer timer;
    timer.start();
    show();
    watch.Wait();
    const double ms = Milliseconds(timer);
    return {ms, CpuMilliseconds() - cpuBefore, static_cast<double>(StatusKilobytes("VmHWM") - before) / 1024};
}

// The same size of listing with a heading a day, the first day today, so the mark has a line to
// mark: half-hourly programmes, CR LF breaks, in code page 936.
QByteArray DatedScheduleText(qsizetype kilobytes) {
    QString dayLines;
    for (int minute = 0; minute < 24 * 60; minute += 30)
        dayLines += QStringLiteral("%1:%2 电视剧：大宅门(12)\r\n")
                        .arg(minute / 60, 2, 10, QChar(u'0'))
                        .arg(minute % 60, 2, 10, QChar(u'0'));
    const QByteArray day = ToGbk(dayLines.toUtf8());
    const qsizetype target = kilobytes * 1024;
    QByteArray text;
    text.reserve(target + day.size() + 64);
    for (QDate date = ListingNow().date(); text.size() < target; date = date.addDays(1))
        text += ToGbk(date.toString(u"yyyy-MM-dd\r\n"_qs).toUtf8()) + day;
    return text;
}

} // namespace

int main(int argc, char** argv) {
    BenchApplication application(argc, argv);
    std::vector<qsizetype> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {10, 1024, 10240, 51200};

    QTemporaryDir program;
    QDir::setCurrent(program.path());
    TForm1 window(TStartup{program.path() + u"/pelnavi"_qs, {u"x"_qs}});
    PaintWatch watch(window.TVListBox->viewport());
    window.show();
    watch.Wait();
    const QString path = program.path() + u"/节目.txt"_qs;
    window.TVFilepathList->addItem(path);
    window.TVList->addItem(u"节目"_qs);
    window.TVList->setCurrentRow(0);

    std::printf("memo: click on a channel until the memo is painted, vs iconv; medians of %d paired runs (3 "
                "above 1 MB)\n",
                kPairs);
    PrintLoad("before");
    for (const qsizetype kilobytes : sizes)
        for (const bool dated : {false, true}) {
            {
                QFile file(path);
                file.open(QIODevice::WriteOnly);
                file.write(dated ? DatedScheduleText(kilobytes) : ScheduleText(kilobytes));
            }
            RunTool(u"iconv"_qs, {u"-f"_qs, u"GBK"_qs, u"-t"_qs, u"UTF-8"_qs, path});
            Paired clicks, clickCpus; // the click against iconv
            std::vector<double> peaks, earlier, earlierPeaks, decodes, documents, lineDocuments, marks, alone,
                alonePeaks, blockALineMs, blockALinePeaks;
            qsizetype marked = -1;
            const int pairs = kilobytes > 1024 ? 3 : kPairs;
            for (int pair = 0; pair < pairs; ++pair) {
                const Timing iconv = Timed(
                    [&] {
                        RunTool(u"iconv"_qs, {u"-f"_qs, u"GBK"_qs, u"-t"_qs, u"UTF-8"_qs, path});
                    },
                    RUSAGE_CHILDREN);
                const Shown click = TimeShown(window, watch, [&] { window.TVListClick(); });
                marked = window.ListingMark->MarkedLine();
                clicks.Add(click.ms, iconv.ms);
                clickCpus.Add(click.cpuMs, iconv.cpuMs);
                peaks.push_back(click.peakMegabytes);

                // The click without the mark: the text read and shown.
                const Shown memoAlone = TimeShown(window, watch, [&] {
                    window.ListingMemo->Show(ListingWithTitle(u"【节目】", LoadListingText(path)));
                });
                alone.push_back(memoAlone.ms);
                alonePeaks.push_back(memoAlone.peakMegabytes);

                // A block a line: what the memo would take without its blocks of lines.
                const Shown blockALine = TimeShown(window, watch, [&] {
                    window.ListingMemo->Show(ListingWithTitle(u"【节目】", LoadListingText(path), 1));
                });
                blockALineMs.push_back(blockALine.ms);
                blockALinePeaks.push_back(blockALine.peakMegabytes);

                // The earlier way: the lines split into a list, joined back into one text for the memo.
                const Shown split = TimeShown(window, watch, [&] {
                    QStringList lines = LoadListingLines(path);
                    lines.prepend(u"【节目】"_qs);
                    window.TVListBox->setPlainText(lines.join(u'\n'));
                });
                earlier.push_back(split.ms);
                earlierPeaks.push_back(split.peakMegabytes);

                QElapsedTimer timer;
                timer.start();
                const QString text = ListingWithTitle(u"【节目】", LoadListingText(path));
                decodes.push_back(Milliseconds(timer));
                {
                    QTextDocument document;
                    timer.restart();
                    document.setPlainText(text);
                    documents.push_back(Milliseconds(timer));
                }
                {
                    // The same lines, a block each, as the memo took them before.
                    QString lineBlocks = text;
                    lineBlocks.replace(QChar::LineSeparator, u'\n');
                    QTextDocument document;
                    timer.restart();
                    document.setPlainText(lineBlocks);
                    lineDocuments.push_back(Milliseconds(timer));
                }
                TListingMark mark(window.TVListBox);
                timer.restart();
                mark.Show(text);
                marks.push_back(Milliseconds(timer));
            }
            const double fileMegabytes = static_cast<double>(QFileInfo(path).size()) / (1 << 20);
            std::printf("listing %.2f MB, %d lines in the memo, %s, line %lld marked\n", fileMegabytes,
                        window.TVListBox->document()->lineCount(),
                        dated ? "a heading a day from today" : "no day headings",
                        static_cast<long long>(marked));
            const double iconvMs = clicks.Peer();
            std::printf("  %-44s %9.2f ms\n", "iconv -f GBK -t UTF-8", iconvMs);
            std::printf("  %-44s %9.2f ms  %6.2fx iconv  peak +%.1f MB (%.1fx the file)\n",
                        "TVListClick until painted", clicks.Product(), clicks.Ratio(), Median(peaks),
                        Median(peaks) / fileMegabytes);
            std::printf("  %-44s %9.2f ms  %6.2fx iconv  peak +%.1f MB (%.1fx the file)\n",
                        "the click without the mark, until painted", Median(alone), Median(alone) / iconvMs,
                        Median(alonePeaks), Median(alonePeaks) / fileMegabytes);
            std::printf("  %-44s %9.2f ms  %6.2fx iconv  peak +%.1f MB (%.1fx the file)\n",
                        "a block a line, without the mark", Median(blockALineMs),
                        Median(blockALineMs) / iconvMs, Median(blockALinePeaks),
                        Median(blockALinePeaks) / fileMegabytes);
            std::printf("  %-44s %9.2f ms  %6.2fx iconv  peak +%.1f MB (%.1fx the file)\n",
                        "earlier: lines split, joined, set", Median(earlier), Median(earlier) / iconvMs,
                        Median(earlierPeaks), Median(earlierPeaks) / fileMegabytes);
            std::printf("  %-44s %9.2f ms  %6.2fx iconv's processor time (%.2f ms)\n",
                        "TVListClick, processor time", clickCpus.Product(), clickCpus.Ratio(),
                        clickCpus.Peer());
            std::printf("  %-44s %9.2f ms\n", "  of the click: read, decode, title", Median(decodes));
            std::printf("  %-44s %9.2f ms\n", "  of the click: QTextDocument::setPlainText",
                        Median(documents));
            std::printf("  %-44s %9.2f ms\n", "    the same with a block a line", Median(lineDocuments));
            std::printf("  %-44s %9.2f ms\n", "  of the click: the mark's schedule", Median(marks));
        }
    PrintLoad("after");
    return 0;
}
