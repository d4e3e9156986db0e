// Prints what the schedule model and the XMLTV conversion cost, next to a yardstick measured in the
// same run:
//  - the schedule model over the whole demo package (every channel, a week) against loading the
//    listings alone (LoadListingLines);
//  - converting a generated gzip XMLTV feed (600 channels × a week, about 100 MB of XML) into
//    listing files against `gzip -dc FEED | xmllint --stream --noout -`, with the peak memory of each.
//
//   xmltv_bench [feed megabytes, default 100]
//   xmltv_bench memory       the conversion's peak memory above idle on large feeds, each converted
//                            in a process of its own
//   xmltv_bench duplicates   the conversion's time for 5,000 and 20,000 channels that the map sends to
//                            one file

#include "bench/support/BenchSupport.h"
#include "catalogue/CatalogueWalk.h"
#include "catalogue/ListingFile.h"
#include "catalogue/Schedule.h"
#include "platform/Exception.h"
#include "xmltv/XmltvImport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>

#include <malloc.h>
#include <sys/resource.h>
#include <zlib.h>

namespace {

// The largest resident set so far, in MB (the kernel counts kilobytes).
double PeakMegabytes(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024;
}

void Fail(const char* what) {
    std::fprintf(stderr, "xmltv_bench: %s\n", what);
    std::exit(1);
}

void BenchScheduleModel(const QString& folder) {
    QProcess maker;
    maker.start(QStringLiteral("python3"),
                {QStringLiteral(PELNAVI_SOURCE_DIR "/tools/demo-server/make_package.py"),
                 QStringLiteral("--unpacked"), folder});
    if (!maker.waitForFinished(-1) || maker.exitCode() != 0)
        Fail("make_package.py failed");
    const QStringList paths = CollectCatalogue(folder).listingPaths;
    qsizetype programmes = 0;
    const double load = BestOf(20, [&] {
        for (const QString& path : paths)
            LoadListingLines(path);
    });
    const double parse = BestOf(20, [&] {
        programmes = 0;
        for (const QString& path : paths) {
            for (const ScheduleDay& day : ParseSchedule(LoadListingLines(path)).days)
                programmes += day.programmes.size();
        }
    });
    std::printf("schedule model, demo package (%lld listings, %lld programmes):\n",
                static_cast<long long>(paths.size()), static_cast<long long>(programmes));
    std::printf("  LoadListingLines alone        %8.2f ms\n", load);
    std::printf("  LoadListingLines + model      %8.2f ms  (model %.2f ms, %.2f µs a programme)\n", parse,
                parse - load,
                (parse - load) * 1000 / static_cast<double>(std::max<qsizetype>(programmes, 1)));
}

// A gzip feed written through zlib's stream, so that it never sits in memory whole.
class FeedWriter final {
public:
    FeedWriter(const QString& path, const char* mode)
        : out_(gzopen(QFile::encodeName(path).constData(), mode)) {
        if (out_ == nullptr)
            Fail("cannot write the feed");
    }
    ~FeedWriter() { gzclose(out_); }
    FeedWriter(const FeedWriter&) = delete;
    FeedWriter& operator=(const FeedWriter&) = delete;

    void Put(const QByteArray& text) {
        gzwrite(out_, text.constData(), static_cast<unsigned>(text.size()));
        written_ += text.size();
    }
    qint64 Written() const { return written_; }

private:
    gzFile out_;
    qint64 written_ = 0;
};

QByteArray ChannelId(int channel) {
    return "c" + QByteArray::number(channel) + ".bench";
}

void PutChannels(FeedWriter& out, int channels, const QByteArray& name = "频道") {
    out.Put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv generator-info-name=\"xmltv_bench\">\n");
    for (int c = 0; c < channels; ++c)
        out.Put("  <channel id=\"" + ChannelId(c) + "\"><display-name lang=\"zh\">" + name +
                QByteArray::number(c) + "</display-name></channel>\n");
}

QByteArray FeedTime(const QDateTime& time) {
    return time.toString(u"yyyyMMddHHmmss").toLatin1() + " +0800";
}

// Half-hour programmes of `channels` channels, channel after channel, `perChannel` each: with a
// stop time, a sub-title and a description of `descriptionChars` characters, or in the compact
// shape (start, channel and a title of its own) when `descriptionChars` is negative. Returns the
// size of the XML.
qint64 WriteFeed(const QString& path, int channels, int perChannel, int descriptionChars,
                 const char* mode = "wb6") {
    FeedWriter out(path, mode);
    PutChannels(out, channels);
    const QByteArray description = QString(std::max(descriptionChars, 0), QChar(u'节')).toUtf8();
    const QDateTime first(QDate(2026, 12, 10), QTime(0, 0));
    for (int c = 0; c < channels; ++c) {
        const QByteArray id = ChannelId(c);
        for (int slot = 0; slot < perChannel; ++slot) {
            const QDateTime start = first.addSecs(qint64{slot} * 1800);
            if (descriptionChars < 0) {
                out.Put("  <programme start=\"" + FeedTime(start) + "\" channel=\"" + id +
                        "\"><title lang=\"zh\">节目" + QByteArray::number(slot) + "</title></programme>\n");
                continue;
            }
            out.Put("  <programme start=\"" + FeedTime(start) + "\" stop=\"" + FeedTime(start.addSecs(1800)) +
                    "\" channel=\"" + id + "\">\n    <title lang=\"zh\">节目" +
                    QByteArray::number(slot % 336) + "</title>\n    <sub-title lang=\"zh\">第" +
                    QByteArray::number(slot % 40 + 1) + "集</sub-title>\n    <desc lang=\"zh\">" +
                    description + "</desc>\n  </programme>\n");
        }
    }
    out.Put("</tv>\n");
    return out.Written();
}

void BenchFeedConversion(const QString& folder, int megabytes) {
    constexpr int kChannels = 600;
    constexpr int kSlots = 7 * 48;
    // About 220 bytes of markup a programme; the description makes up the rest.
    const qint64 perProgramme = qint64(megabytes) * 1'000'000 / (qint64{kChannels} * kSlots);
    const int descriptionChars = static_cast<int>(std::max<qint64>(perProgramme - 220, 0) / 3);
    const QString feed = folder + QStringLiteral("/feed.xml.gz");
    const qint64 xmlBytes = WriteFeed(feed, kChannels, kSlots, descriptionChars);
    std::printf("XMLTV feed: %d channels × a week, %.1f MB of XML, %.1f MB gzip\n", kChannels,
                static_cast<double>(xmlBytes) / 1e6, static_cast<double>(QFileInfo(feed).size()) / 1e6);

    const double reference = BestOf(3, [&] {
        QProcess shell;
        shell.start(
            QStringLiteral("sh"),
            {QStringLiteral("-c"), QStringLiteral("gzip -dc \"$0\" | xmllint --stream --noout -"), feed});
        if (!shell.waitForFinished(-1) || shell.exitCode() != 0)
            Fail("gzip -dc | xmllint --stream failed (packages gzip, libxml2-utils)");
    });
    const double before = PeakMegabytes(RUSAGE_SELF);
    const double convert = BestOf(3, [&] {
        QTemporaryDir data;
        if (ImportXmltvFile(feed, data.path()).size() != kChannels)
            Fail("conversion lost channels");
    });
    const double after = PeakMegabytes(RUSAGE_SELF);

    std::printf("  convert into listing files    %8.0f ms  (%.2f× the yardstick)\n", convert,
                convert / reference);
    std::printf("  gzip -dc | xmllint --stream   %8.0f ms\n", reference);
    std::printf("  peak memory: this process %.1f MB (%.1f MB before converting), yardstick at most "
                "%.1f MB (its largest process)\n",
                after, before, PeakMegabytes(RUSAGE_CHILDREN));
}

// A feed of `runs` runs of whitespace, each `runLength` long and followed by `between` (an empty
// element ends a piece of text for the reader; nothing makes all runs one piece). Returns the size
// of the XML.
qint64 WriteWhitespaceFeed(const QString& path, int runLength, int runs, const QByteArray& between) {
    FeedWriter out(path, "wb9");
    out.Put("<?xml version=\"1.0\"?>\n<tv>");
    const QByteArray run = QByteArray(runLength, ' ') + between;
    for (int i = 0; i < runs; ++i)
        out.Put(run);
    out.Put("</tv>\n");
    return out.Written();
}

// The feeds of the memory figures. Each is written once, then converted by a child process.
struct LargeFeed {
    const char* what;
    std::function<qint64(const QString& path)> write; // returns the size of the XML
};

const LargeFeed kLargeFeeds[] = {
    {"900 MB of short programmes, small gzip (100 channels)",
     [](const QString& path) { return WriteFeed(path, 100, 81'000, -1, "wb9"); }},
    {"whitespace in one piece inflating past the 1 GiB bound",
     [](const QString& path) { return WriteWhitespaceFeed(path, 16 << 20, 65, {}); }},
    {"whitespace in runs of 1 MiB between elements, inflating past the 1 GiB bound",
     [](const QString& path) { return WriteWhitespaceFeed(path, 1 << 20, 1040, "<x/>"); }},
    {"300 MB of short programmes (600 channels)",
     [](const QString& path) { return WriteFeed(path, 600, 4'500, -1); }},
    {"one channel with 2,000,000 programmes",
     [](const QString& path) { return WriteFeed(path, 1, 2'000'000, 0); }},
};

double MegabytesOf(long kilobytes) {
    return static_cast<double>(kilobytes) / 1024;
}

// In the child: converts one feed, with the channel map `map` when one is given, and prints its
// figures.
int ConvertAndMeasure(const QString& feed, int channelBound, const QString& map) {
    QTemporaryDir data;
    if (!map.isEmpty() && !QFile::copy(map, data.filePath(QStringLiteral("channel-classes.map"))))
        Fail("cannot copy the channel map");
    ::malloc_trim(0);
    const long idle = StatusKilobytes("VmRSS");
    ResetPeakMemory();
    QElapsedTimer timer;
    timer.start();
    QString outcome;
    try {
        XmltvImportOptions options;
        options.limits.channels = channelBound;
        outcome = QStringLiteral("%1 listings").arg(ImportXmltvFile(feed, data.path(), options).size());
    } catch (const Exception& error) {
        outcome = QStringLiteral("refused: %1").arg(error.what());
    }
    const double seconds = static_cast<double>(timer.elapsed()) / 1000;
    std::printf("    peak %.1f MB above idle (idle %.1f MB), %.1f s, %s\n",
                MegabytesOf(StatusKilobytes("VmHWM") - idle), MegabytesOf(idle), seconds,
                qPrintable(outcome));
    return 0;
}

void ConvertInChild(const QString& feed, int channelBound = 10'000, const QString& map = {}) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("convert"), feed, QString::number(channelBound), map});
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        Fail("the converting child failed");
}

void BenchLargeFeeds(const QString& folder) {
    std::printf("peak memory of the conversion, each in a process of its own:\n");
    for (const LargeFeed& large : kLargeFeeds) {
        const QString feed = folder + QStringLiteral("/large.xml.gz");
        const qint64 xmlBytes = large.write(feed);
        std::printf("  %s: %.1f MB of XML, %.1f MB gzip\n", large.what, static_cast<double>(xmlBytes) / 1e6,
                    static_cast<double>(QFileInfo(feed).size()) / 1e6);
        std::fflush(stdout);
        ConvertInChild(feed);
        QFile::remove(feed);
    }
}

void BenchDuplicateNames(const QString& folder) {
    std::printf("channels that the map sends to one file, numbered \"同名(2).txt\" …:\n");
    // Channels of one name are one channel; the map makes distinct channels share a file.
    const QString map = folder + QStringLiteral("/channel-classes.map");
    {
        QFile file(map);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(QStringLiteral("同名\t数字频道\t同名.txt\n").toUtf8()) < 0)
            Fail("cannot write the channel map");
    }
    for (const int channels : {5'000, 20'000}) {
        const QString feed = folder + QStringLiteral("/duplicates.xml.gz");
        {
            FeedWriter out(feed, "wb6");
            PutChannels(out, channels, "同名");
            out.Put("</tv>\n");
        }
        std::printf("  %d channels:\n", channels);
        std::fflush(stdout);
        ConvertInChild(feed, channels, map);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() >= 3 && arguments[0] == u"convert")
        return ConvertAndMeasure(arguments[1], arguments[2].toInt(), arguments.value(3));
    QTemporaryDir folder;
    if (arguments.value(0) == u"memory") {
        BenchLargeFeeds(folder.path());
        return 0;
    }
    if (arguments.value(0) == u"duplicates") {
        BenchDuplicateNames(folder.path());
        return 0;
    }
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 100;
    // The feed first, so that the largest child process so far is the yardstick's.
    BenchFeedConversion(folder.path(), std::max(megabytes, 1));
    BenchScheduleModel(folder.filePath(QStringLiteral("demo")));
    return 0;
}
