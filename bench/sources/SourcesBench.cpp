// Prints what one update of four XMLTV sources costs against the sum of fetching and converting the
// same four one by one, as four updates of a single source would, from loopback servers, in paired
// runs (the update, then the four single ones), with the median of each and of the ratios and the
// load average before and after.
//
// The update of several sources: each feed fetched into the sources folder, read whole and placed
// by the channel map before it takes its place, then all merged day by day and written at once. One
// by one: each feed fetched and saved as the package, then imported. A quarter of the channels are
// in every feed, so the merge has days to choose.
//
//   sources_bench [megabytes per feed, default 10] [pairs, default 5]

#include "bench/support/BenchSupport.h"
#include "sources/SourceConversion.h"
#include "tests/support/LoopbackServer.h"
#include "update/PackageFetch.h"
#include "xmltv/ChannelMap.h"
#include "xmltv/XmltvImport.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <stdlib.h>

namespace {

constexpr int kSources = 4;
constexpr int kChannelsPerFeed = 200;
constexpr int kSharedChannels = 50;

// A feed of about `bytes`: the shared channels and its own, a week of programmes each.
QByteArray MakeFeed(int source, qsizetype bytes) {
    QByteArray feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tv>\n";
    QList<QByteArray> ids;
    for (int channel = 0; channel < kChannelsPerFeed; ++channel) {
        const QByteArray id = channel < kSharedChannels
                                  ? "shared" + QByteArray::number(channel)
                                  : "s" + QByteArray::number(source) + "c" + QByteArray::number(channel);
        ids.append(id);
        feed +=
            "<channel id=\"" + id + "\"><display-name lang=\"zh\">频道" + id + "</display-name></channel>\n";
    }
    for (int step = 0; feed.size() < bytes; ++step) {
        const int day = 10 + (step / 48) % 7;
        const int minutes = (step % 48) * 30;
        char start[32];
        std::snprintf(start, sizeof start, "202612%02d%02d%02d00 +0800", day, minutes / 60, minutes % 60);
        for (const QByteArray& id : ids)
            feed += "<programme start=\"" + QByteArray(start) + "\" channel=\"" + id +
                    "\"><title lang=\"zh\">节目" + QByteArray::number(step) + "：第" +
                    QByteArray::number(source) + "源</title></programme>\n";
    }
    return feed + "</tv>\n";
}

QByteArray Ok(const QByteArray& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

void Fetch(TIdHTTP& http, const QString& address, PackageFile& file) {
    if (FetchPackage(http, address, file)) {
        std::fprintf(stderr, "sources_bench: the fetch of %s failed\n", qPrintable(address));
        std::exit(1);
    }
}

double UpdateOfSeveralSources(const QStringList& addresses, const QString& dataFolder) {
    QElapsedTimer timer;
    timer.start();
    TIdHTTP http;
    const QString folder = dataFolder + QStringLiteral("sources/");
    QDir().mkpath(folder);
    const FeedPlacing placing = LoadFeedPlacing(dataFolder);
    QList<FeedSourceReading> readings;
    for (int source = 0; source < addresses.size(); ++source) {
        const QString id = QStringLiteral("source%1.source").arg(source);
        PackageFile file(folder, id);
        Fetch(http, addresses[source], file);
        readings.append(ReadFeedSource(file.TemporaryPath(), id, 0, placing));
        file.Replace();
    }
    WriteMergedFeeds(dataFolder, readings);
    return Milliseconds(timer);
}

double OneByOne(const QStringList& addresses, const QString& dataFolder) {
    QElapsedTimer timer;
    timer.start();
    TIdHTTP http;
    for (const QString& address : addresses) {
        {
            PackageFile file(dataFolder, QStringLiteral("zorq.zip"));
            Fetch(http, address, file);
            file.Replace();
        }
        ImportXmltvFile(dataFolder + QStringLiteral("zorq.zip"), dataFolder);
    }
    return Milliseconds(timer);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const qsizetype megabytes = argc > 1 ? std::atoi(argv[1]) : 10;
    const int pairs = argc > 2 ? std::atoi(argv[2]) : 5;
    std::vector<std::unique_ptr<LoopbackServer>> servers;
    QStringList addresses;
    qsizetype total = 0;
    for (int source = 0; source < kSources; ++source) {
        const QByteArray feed = MakeFeed(source, megabytes * 1000 * 1000);
        total += feed.size();
        servers.push_back(LoopbackServer::AnsweringEveryGet(Ok(feed)));
        addresses << servers.back()->Url(QStringLiteral("/guide.xml"));
    }
    std::printf(
        "%d feeds of %.1f MB (%d channels each, %d in every feed), %d pairs\nload average before: %s\n",
        kSources, static_cast<double>(total) / kSources / 1e6, kChannelsPerFeed, kSharedChannels, pairs,
        LoadAverage().c_str());
    std::vector<double> several, oneByOne, ratios;
    for (int pair = 0; pair < pairs; ++pair) {
        QTemporaryDir first, second;
        const double a = UpdateOfSeveralSources(addresses, first.path() + u'/');
        const double b = OneByOne(addresses, second.path() + u'/');
        several.push_back(a);
        oneByOne.push_back(b);
        ratios.push_back(a / b);
        std::printf("  pair %d: several %.0f ms, one by one %.0f ms, ratio %.3f\n", pair + 1, a, b, a / b);
    }
    std::printf("one update of %d sources: median %.0f ms\n", kSources, Median(several));
    std::printf("fetch + convert one by one, summed: median %.0f ms\n", Median(oneByOne));
    std::printf("ratio (median of the pairs): %.3fx, of the medians: %.3fx\n", Median(ratios),
                Median(several) / Median(oneByOne));
    std::printf("load average after: %s\n", LoadAverage().c_str());
    return 0;
}
