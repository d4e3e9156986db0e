// Prints how long the catalogue takes on a large data folder and a large listing, next to the
// figures of `find` and `iconv` on the same data, measured in the same run.
//
//   catalogue_bench [listing megabytes, default 50]

#include "bench/support/BenchSupport.h"
#include "catalogue/CatalogueWalk.h"
#include "catalogue/ChannelNames.h"
#include "catalogue/ListingFile.h"
#include "ui/Unit1.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kFolders = 400;
constexpr int kFilesPerFolder = 50;
constexpr int kNames = 100'000;
constexpr int kRepeats = 3;

// File names like those of a schedule package: numbered national channels and pinyin local ones.
QStringList ChannelFileNames(int count) {
    const char16_t* stems[] = {u"01",           u"04(亚洲)",  u"13",         u"14",
                               u"news",         u"anhui卫视", u"北京电视台", u"shanxitai",
                               u"heilongjiang", u"Beijing",   u"CCTV-新闻",  u"xiamen旅游"};
    QStringList names;
    names.reserve(count);
    for (int i = 0; i < count; ++i)
        names.append(QString::fromUtf16(stems[i % std::size(stems)]) + QString::number(i / std::size(stems)) +
                     (i % 5 == 0 ? u".TXT"_qs : u".txt"_qs));
    return names;
}

void BuildDataFolder(const QString& root) {
    const QStringList names = ChannelFileNames(kFilesPerFolder);
    const QStringList classes = {u"央视频道"_qs, u"地方频道"_qs, u"数字频道"_qs, u"境外频道"_qs};
    for (int f = 0; f < kFolders; ++f) {
        const QString folder = QStringLiteral("%1/%2/省%3/").arg(root, classes[f % classes.size()]).arg(f);
        QDir().mkpath(folder);
        for (const QString& name : names) {
            QFile file(folder + name);
            file.open(QIODevice::WriteOnly);
        }
    }
}

class CountingSink final : public CatalogueSink {
public:
    void FolderFound(const QString&) override { ++folders; }
    void ListingFound(const QString&, const QString&) override { ++listings; }
    int folders = 0;
    int listings = 0;
};

} // namespace

int main(int argc, char** argv) {
    BenchApplication application(argc, argv);
    const qsizetype listingMegabytes = argc > 1 ? std::atoi(argv[1]) : 50;

    QTemporaryDir data;
    BuildDataFolder(data.path());
    const QString root = data.path() + u'/';
    PrintLoad();

    const double findMs = BestOf(kRepeats, [&] { RunTool(u"find"_qs, {root, u"-name"_qs, u"*txt"_qs}); });

    CountingSink counted;
    const double walkMs = BestOf(kRepeats, [&] {
        counted = CountingSink();
        WalkCatalogue(root, counted);
    });

    // The real window, started as with an argument (no scan, no shortcut), in a scratch program folder.
    QTemporaryDir program;
    QDir::setCurrent(program.path());
    TForm1 window(TStartup{program.path() + u"/pelnavi"_qs, {u"x"_qs}});
    window.show();
    QCoreApplication::processEvents();
    const auto clearLists = [&] {
        window.TVList->clear();
        window.TVFilepathList->clear();
        window.filepathList->clear();
    };
    // The rescan empties the lists before it scans; that is not part of the scan.
    const double scanMs = BestOf(
        kRepeats, [&] { ScanCatalogue(root); }, clearLists);

    std::printf("data folder: %d listing files in %d folders (found %d listings, %d folders)\n",
                kFolders * kFilesPerFolder, kFolders, counted.listings, counted.folders);
    std::printf("  find DIR -name '*txt'                   %8.1f ms\n", findMs);
    std::printf("  WalkCatalogue, counting only            %8.1f ms  (%.2fx find)\n", walkMs,
                walkMs / findMs);
    std::printf("  ScanCatalogue into the window's lists   %8.1f ms  (%.2fx find; %d entries)\n", scanMs,
                scanMs / findMs, window.TVList->count());

    const QStringList names = ChannelFileNames(kNames);
    qsizetype totalLength = 0;
    const double namesMs = BestOf(kRepeats, [&] {
        totalLength = 0;
        for (const QString& name : names)
            totalLength += ChannelDisplayName(name).size();
    });
    std::printf("ChannelDisplayName over %d names        %8.1f ms  (%.2f us each; %lld characters)\n", kNames,
                namesMs, namesMs * 1000 / kNames, static_cast<long long>(totalLength));

    const QString listingPath = root + u"大文件.txt"_qs;
    {
        QFile file(listingPath);
        file.open(QIODevice::WriteOnly);
        file.write(ScheduleText(listingMegabytes * 1024));
    }
    const double iconvMs = BestOf(kRepeats, [&] {
        RunTool(u"iconv"_qs, {u"-f"_qs, u"GBK"_qs, u"-t"_qs, u"UTF-8"_qs, listingPath});
    });
    qsizetype lineCount = 0;
    const double loadMs = BestOf(kRepeats, [&] { lineCount = LoadListingLines(listingPath).size(); });
    std::printf("listing: %lld MB in code page 936, %lld lines\n", static_cast<long long>(listingMegabytes),
                static_cast<long long>(lineCount));
    std::printf("  %-40s %8.1f ms\n", "iconv -f GBK -t UTF-8", iconvMs);
    std::printf("  %-40s %8.1f ms  (%.2fx iconv)\n", "LoadListingLines, list freed again", loadMs,
                loadMs / iconvMs);

    // The schedule view of the real window: a click on the channel loads and shows the listing.
    clearLists();
    window.TVFilepathList->addItem(listingPath);
    window.TVList->addItem(ChannelDisplayName(u"大文件.txt"_qs));
    window.TVList->setCurrentRow(0);
    const double showMs = BestOf(
        kRepeats, [&] { window.TVListClick(); }, [&] { window.TVListBox->clear(); });
    std::printf("  %-40s %8.1f ms  (%.2fx iconv; %d lines in the memo)\n", "TVListClick: loaded and shown",
                showMs, showMs / iconvMs, window.TVListBox->blockCount());
    return 0;
}
