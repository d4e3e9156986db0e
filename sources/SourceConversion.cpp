#include "sources/SourceConversion.h"

#include "platform/Exception.h"
#include "xmltv/ListingText.h"

#include <QFile>
#include <QHash>

#include <algorithm>

QString ChannelKey(const FeedChannel& channel) {
    return channel.key;
}

FeedPlacing LoadFeedPlacing(const QString& dataFolder) {
    return {LoadChannelMap(dataFolder), LoadChannelAliases(dataFolder)};
}

FeedSourceReading ReadFeedSource(const QString& path, const QString& source, int offsetMinutes,
                                 const FeedPlacing& placing) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot open the feed \"%1\": %2").arg(path, file.errorString()));
    Feed feed = ReadXmltvFeed(file, kMaxFeedBytes, &placing.aliases);
    FeedSourceReading reading;
    reading.source = source;
    reading.channels = feed.channels.size();
    for (FeedChannel& channel : feed.channels) {
        reading.programmes += channel.programmes.size();
        MoveProgrammes(channel.programmes, offsetMinutes);
        const QString key = ChannelKey(channel);
        reading.places.insert(key, placing.map.Place(channel));
        reading.placed.append({key, channel.name, std::move(channel.programmes), channel.ids});
    }
    return reading;
}

QString FeedSuccessText(const FeedSourceReading& reading) {
    return QStringLiteral("成功：%1个频道，%2个节目").arg(reading.channels).arg(reading.programmes);
}

QList<ImportedListing> WriteMergedFeeds(const QString& dataFolder, const QList<FeedSourceReading>& readings) {
    QList<QList<SourceChannel>> sources;
    QStringList sourceIds;
    sources.reserve(readings.size());
    for (const FeedSourceReading& reading : readings) {
        sources.append(reading.placed);
        sourceIds.append(reading.source);
    }
    QList<PlacedListing> listings;
    for (const MergedChannel& channel : MergeSourceChannels(sources)) {
        const FeedSourceReading& highest = readings[channel.source];
        listings.append({highest.places.value(channel.key),
                         ListingFileBytes(channel.title, ProgrammesOf(channel)),
                         {channel.title, channel.ids, highest.source}});
    }
    return WritePlacedListings(dataFolder, listings, sourceIds);
}
