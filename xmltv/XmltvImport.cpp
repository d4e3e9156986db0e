#include "xmltv/XmltvImport.h"

#include "platform/Exception.h"
#include "xmltv/ChannelMap.h"
#include "xmltv/ImportPump.h"
#include "xmltv/ListingText.h"

#include <QDir>
#include <QFile>

QList<ImportedListing> ImportXmltvFeed(QIODevice& device, const QString& dataFolder,
                                       const XmltvImportOptions& options) {
    ImportPump pump(options.pump, options.pumpInterval);
    ProgrammeSort programmes(dataFolder, options.sortMemoryBytes);
    const QList<FeedChannel> channels = ReadFeed(device, programmes, options.limits, &pump);
    if (!QDir().mkpath(dataFolder))
        throw Exception(QStringLiteral("Cannot make the data folder \"%1\"").arg(dataFolder));
    const ChannelMap map = LoadChannelMap(dataFolder);

    QList<ImportedListing> listings;
    ListingPlacement placement(dataFolder);
    for (qsizetype i = 0; i < channels.size(); ++i) {
        const FeedChannel& channel = channels[i];
        listings.append(placement.Stage(map.Place(channel.id, channel.displayNames), [&](QIODevice& file) {
            ListingWriter listing(file, ChannelTitleName(channel));
            programmes.TakeChannel(i, [&](const ProgrammeSort::Sorted& programme) {
                listing.Add(programme.date, programme.time, programme.titleUtf8);
                pump.Reached();
            });
        }));
        pump.Reached();
    }
    placement.Commit();
    return listings;
}

QList<ImportedListing> ImportXmltvFeed(QIODevice& device, const QString& dataFolder, qint64 maxFeedBytes) {
    XmltvImportOptions options;
    options.limits.feedBytes = maxFeedBytes;
    return ImportXmltvFeed(device, dataFolder, options);
}

namespace {

void OpenFeedFile(QFile& file) {
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(
            QStringLiteral("Cannot open the feed \"%1\": %2").arg(file.fileName(), file.errorString()));
}

} // namespace

QList<ImportedListing> ImportXmltvFile(const QString& feedPath, const QString& dataFolder,
                                       const XmltvImportOptions& options) {
    QFile file(feedPath);
    OpenFeedFile(file);
    return ImportXmltvFeed(file, dataFolder, options);
}

void CheckXmltvFile(const QString& feedPath, const XmltvImportOptions& options) {
    struct Discard final : FeedProgrammeSink {
        void Programme(qsizetype, const FeedProgramme&) override {}
    } discard;
    ImportPump pump(options.pump, options.pumpInterval);
    QFile file(feedPath);
    OpenFeedFile(file);
    ReadFeed(file, discard, options.limits, &pump);
}
