#include "xmltv/XmltvImport.h"

#include "platform/Exception.h"
#include "xmltv/ChannelIdentity.h"
#include "xmltv/ChannelMap.h"
#include "xmltv/ImportPump.h"
#include "xmltv/ListingText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

void MoveProgramme(FeedProgramme& programme, int minutes) {
    // Counted on the wall clock of the feed, whatever the machine's zone does that day.
    const QDateTime moved = QDateTime(programme.date, programme.time, Qt::UTC).addSecs(qint64(minutes) * 60);
    programme.date = moved.date();
    programme.time = moved.time();
}

void MoveProgrammes(QList<FeedProgramme>& programmes, int minutes) {
    if (minutes == 0)
        return;
    for (FeedProgramme& programme : programmes)
        MoveProgramme(programme, minutes);
}

QList<ImportedListing> WritePlacedListings(const QString& dataFolder, const QList<PlacedListing>& listings,
                                           const QStringList& sources) {
    QList<ImportedListing> written;
    ListingPlacement placement(dataFolder);
    FeedIndexUpdate index(dataFolder, sources);
    for (const PlacedListing& listing : listings) {
        written.append(placement.Stage(listing.place, listing.bytes));
        index.Written(written.back(), listing.origin);
    }
    index.Commit(placement);
    return written;
}

namespace {

// Hands the programmes on with their starts moved, for a source whose times are labelled wrongly.
class MovedProgrammes final : public FeedProgrammeSink {
public:
    MovedProgrammes(FeedProgrammeSink& next, int minutes) : next_(next), minutes_(minutes) {}
    void Programme(qsizetype channel, const FeedProgramme& programme) override {
        FeedProgramme moved = programme;
        MoveProgramme(moved, minutes_);
        next_.Programme(channel, moved);
    }

private:
    FeedProgrammeSink& next_;
    int minutes_;
};

} // namespace

QList<ImportedListing> ImportXmltvFeed(QIODevice& device, const QString& dataFolder,
                                       const XmltvImportOptions& options) {
    ImportPump pump(options.pump, options.pumpInterval);
    ProgrammeSort programmes(dataFolder, options.sortMemoryBytes);
    MovedProgrammes moved(programmes, options.offsetMinutes);
    FeedProgrammeSink& sink =
        options.offsetMinutes == 0 ? static_cast<FeedProgrammeSink&>(programmes) : moved;
    const ChannelAliases aliases = LoadChannelAliases(dataFolder);
    const QList<FeedChannel> channels = ReadFeed(device, sink, options.limits, &pump, &aliases);
    if (!QDir().mkpath(dataFolder))
        throw Exception(QStringLiteral("Cannot make the data folder \"%1\"").arg(dataFolder));
    const ChannelMap map = LoadChannelMap(dataFolder);

    QList<ImportedListing> listings;
    ListingPlacement placement(dataFolder);
    FeedIndexUpdate index(dataFolder, {options.source});
    for (qsizetype i = 0; i < channels.size(); ++i) {
        const FeedChannel& channel = channels[i];
        listings.append(placement.Stage(map.Place(channel), [&](QIODevice& file) {
            ListingWriter listing(file, channel.name);
            programmes.TakeChannel(i, [&](const ProgrammeSort::Sorted& programme) {
                listing.Add(programme.date, programme.time, programme.titleUtf8);
                pump.Reached();
            });
        }));
        index.Written(listings.back(), {channel.name, channel.ids, options.source});
        pump.Reached();
    }
    index.Commit(placement);
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
