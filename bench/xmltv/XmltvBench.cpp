// Prints what the schedule model and the XMLTV conversion cost, next to a yardstick measured in the
// same run:
//  - the schedule model over the whole demo package (every channel, a week) against loading the
//    listings alone (LoadListingLines);
//  - converting a generated gzip XMLTV feed (600 channels × a week, about 100 MB of XML) into
//    listing files against `gzip -dc FEED | xmllint --stream --noout -`, with the peak memory of each.
//
//   xmltv_bench [feed megabytes, default 100]

#include "catalogue/CatalogueWalk.h"
#include "catalogue/ListingFile.h"
#include "catalogue/Schedule.h"
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

#include <sys/resource.h>
#include <zlib.h>

namespace {

double BestOf(const std::function<void()>& run, int repeats) {
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = std::min(best, static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

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
    const double load = BestOf(
        [&] {
            for (const QString& path : paths)
                LoadListingLines(path);
        },
        20);
    const double parse = BestOf(
        [&] {
            programmes = 0;
            for (const QString& path : paths) {
                for (const ScheduleDay& day : ParseSchedule(LoadListingLines(path)).days)
                    programmes += day.programmes.size();
            }
        },
        20);
    std::printf("schedule model, demo package (%lld listings, %lld programmes):\n",
                static_cast<long long>(paths.size()), static_cast<long long>(programmes));
    std::printf("  LoadListingLines alone        %8.2f ms\n", load);
    std::printf("  LoadListingLines + model      %8.2f ms  (model %.2f ms, %.2f µs a programme)\n", parse,
                parse - load,
                (parse - load) * 1000 / static_cast<double>(std::max<qsizetype>(programmes, 1)));
}

// A feed of `channels` channels with a week of half-hour programmes each, written through zlib's
// gzip stream so that it never sits in memory whole. Returns the size of the XML.
qint64 WriteFeed(const QString& path, int channels, int descriptionChars) {
    gzFile out = gzopen(QFile::encodeName(path).constData(), "wb6");
    if (out == nullptr)
        Fail("cannot write the feed");
    qint64 written = 0;
    const auto put = [&](const QByteArray& text) {
        gzwrite(out, text.constData(), static_cast<unsigned>(text.size()));
        written += text.size();
    };
    put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv generator-info-name=\"xmltv_bench\">\n");
    for (int c = 0; c < channels; ++c)
        put("  <channel id=\"c" + QByteArray::number(c) + ".bench\"><display-name lang=\"zh\">频道" +
            QByteArray::number(c) + "</display-name></channel>\n");
    const QByteArray description = QString(descriptionChars, QChar(u'节')).toUtf8();
    const QDateTime first(QDate(2026, 12, 10), QTime(0, 0));
    for (int c = 0; c < channels; ++c) {
        const QByteArray id = "c" + QByteArray::number(c) + ".bench";
        for (int slot = 0; slot < 7 * 48; ++slot) {
            const QDateTime start = first.addSecs(qint64{slot} * 1800);
            put("  <programme start=\"" + start.toString(u"yyyyMMddHHmmss").toLatin1() + " +0800\" stop=\"" +
                start.addSecs(1800).toString(u"yyyyMMddHHmmss").toLatin1() + " +0800\" channel=\"" + id +
                "\">\n    <title lang=\"zh\">节目" + QByteArray::number(slot) +
                "</title>\n    <sub-title lang=\"zh\">第" + QByteArray::number(slot % 40 + 1) +
                "集</sub-title>\n    <desc lang=\"zh\">" + description + "</desc>\n  </programme>\n");
        }
    }
    put("</tv>\n");
    gzclose(out);
    return written;
}

void BenchFeedConversion(const QString& folder, int megabytes) {
    constexpr int kChannels = 600;
    // About 220 bytes of markup a programme; the description makes up the rest.
    const qint64 perProgramme = qint64(megabytes) * 1'000'000 / (qint64{kChannels} * 7 * 48);
    const int descriptionChars = static_cast<int>(std::max<qint64>(perProgramme - 220, 0) / 3);
    const QString feed = folder + QStringLiteral("/feed.xml.gz");
    const qint64 xmlBytes = WriteFeed(feed, kChannels, descriptionChars);
    std::printf("XMLTV feed: %d channels × a week, %.1f MB of XML, %.1f MB gzip\n", kChannels,
                static_cast<double>(xmlBytes) / 1e6, static_cast<double>(QFileInfo(feed).size()) / 1e6);

    const double reference = BestOf(
        [&] {
            QProcess shell;
            shell.start(
                QStringLiteral("sh"),
                {QStringLiteral("-c"), QStringLiteral("gzip -dc \"$0\" | xmllint --stream --noout -"), feed});
            if (!shell.waitForFinished(-1) || shell.exitCode() != 0)
                Fail("gzip -dc | xmllint --stream failed (packages gzip, libxml2-utils)");
        },
        3);
    const double before = PeakMegabytes(RUSAGE_SELF);
    const double convert = BestOf(
        [&] {
            QTemporaryDir data;
            if (ImportXmltvFile(feed, data.path()).size() != kChannels)
                Fail("conversion lost channels");
        },
        3);
    const double after = PeakMegabytes(RUSAGE_SELF);

    std::printf("  convert into listing files    %8.0f ms  (%.2f× the yardstick)\n", convert,
                convert / reference);
    std::printf("  gzip -dc | xmllint --stream   %8.0f ms\n", reference);
    std::printf("  peak memory: this process %.1f MB (%.1f MB before converting), yardstick at most "
                "%.1f MB (its largest process)\n",
                after, before, PeakMegabytes(RUSAGE_CHILDREN));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int megabytes = argc > 1 ? std::atoi(argv[1]) : 100;
    QTemporaryDir folder;
    // The feed first, so that the largest child process so far is the yardstick's.
    BenchFeedConversion(folder.path(), std::max(megabytes, 1));
    BenchScheduleModel(folder.filePath(QStringLiteral("demo")));
    return 0;
}
