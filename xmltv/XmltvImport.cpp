#include "xmltv/XmltvImport.h"

#include "platform/Exception.h"
#include "xmltv/ChannelMap.h"
#include "xmltv/ListingText.h"

#include <QDir>
#include <QFile>

QList<ImportedListing> ImportXmltvFeed(QIODevice& device, const QString& dataFolder, qint64 maxFeedBytes) {
    const Feed feed = ReadXmltvFeed(device, maxFeedBytes);
    if (!QDir().mkpath(dataFolder))
        throw Exception(QStringLiteral("Cannot make the data folder \"%1\"").arg(dataFolder));
    const ChannelMap map = LoadChannelMap(dataFolder);

    QList<ImportedListing> listings;
    ListingPlacement placement(dataFolder);
    for (const FeedChannel& channel : feed.channels)
        listings.append(placement.Stage(map.Place(channel.id, channel.displayNames),
                                        ListingFileBytes(ChannelTitleName(channel), channel.programmes)));
    placement.Commit();
    return listings;
}

namespace {

void OpenFeedFile(QFile& file) {
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(
            QStringLiteral("Cannot open the feed \"%1\": %2").arg(file.fileName(), file.errorString()));
}

} // namespace

QList<ImportedListing> ImportXmltvFile(const QString& feedPath, const QString& dataFolder) {
    QFile file(feedPath);
    OpenFeedFile(file);
    return ImportXmltvFeed(file, dataFolder);
}

void CheckXmltvFile(const QString& feedPath) {
    struct Discard final : FeedProgrammeSink {
        void Programme(qsizetype, const FeedProgramme&) override {}
    } discard;
    QFile file(feedPath);
    OpenFeedFile(file);
    ReadFeed(file, discard);
}
