#pragma once

#include "xmltv/FeedIndexUpdate.h"
#include "xmltv/FeedReader.h"
#include "xmltv/ListingPlacement.h"
#include "xmltv/ProgrammeSort.h"

#include <QList>
#include <QString>

#include <chrono>
#include <functional>

class QIODevice;

// Turning an XMLTV feed into listing files, in the text shape of the schedule packages.

struct XmltvImportOptions {
    FeedLimits limits;
    // What the programmes may hold in memory while the feed is read (ProgrammeSort).
    qint64 sortMemoryBytes = ProgrammeSort::kDefaultMemoryBytes;
    // Every start is moved by this many minutes (after it was put into Beijing time), for a feed
    // that labels its times wrongly.
    int offsetMinutes = 0;
    // The source the feed came from, as the index of feed listings records it: the listings that
    // this source's last import wrote and this one does not are removed.
    QString source = QStringLiteral("default");
    // Runs at the import's pump points, at most `pumpInterval` apart (ImportPump); an abort
    // request ends the import there with AbortedError, before any listing is replaced.
    std::function<void()> pump;
    std::chrono::milliseconds pumpInterval{50};
};

// Moves a programme's start by `minutes`, counted on the feed's wall clock.
void MoveProgramme(FeedProgramme& programme, int minutes);
void MoveProgrammes(QList<FeedProgramme>& programmes, int minutes);

// A listing to be written where the map placed it.
struct PlacedListing {
    ChannelPlace place;
    QByteArray bytes;
    ListingOrigin origin;
};

// Writes listings as the import writes its own (ListingPlacement, FeedIndexUpdate): all or none, two
// listings placed on the same file numbered "(2)", "(3)", … before ".txt", the listings of `sources`
// that an earlier import wrote and these are not removed. Throws Exception on any failure, leaving
// every listing file as it was.
QList<ImportedListing> WritePlacedListings(const QString& dataFolder, const QList<PlacedListing>& listings,
                                           const QStringList& sources);

// Reads the feed, places every channel with the data folder's channel map (written first when
// missing), the channels of one identity made one with the data folder's aliases (ChannelIdentity),
// and writes its listing file into its class folder, recorded in the index of feed listings; the
// listings that the source's last import wrote and this one does not are removed. The programmes
// stream through a bounded sort, so memory stays bounded whatever the size of the feed. All files
// are written under temporary names first and put in place only after the whole feed was read and
// written, all or none (ListingPlacement::Commit), so a failure leaves every listing file as it was. Two
// channels that the map gives the same file get "(2)", "(3)", … before ".txt". Throws Exception on any
// failure.
QList<ImportedListing> ImportXmltvFeed(QIODevice& device, const QString& dataFolder,
                                       const XmltvImportOptions& options = {});
QList<ImportedListing> ImportXmltvFeed(QIODevice& device, const QString& dataFolder, qint64 maxFeedBytes);
QList<ImportedListing> ImportXmltvFile(const QString& feedPath, const QString& dataFolder,
                                       const XmltvImportOptions& options = {});

// Reads the whole feed as the import does and writes nothing: throws Exception for a feed that the
// import would refuse (not an XMLTV document, not whole, malformed, beyond a bound).
void CheckXmltvFile(const QString& feedPath, const XmltvImportOptions& options = {});
