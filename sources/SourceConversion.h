#pragma once

#include "sources/SourceMerge.h"
#include "xmltv/ChannelIdentity.h"
#include "xmltv/ChannelMap.h"
#include "xmltv/XmltvImport.h"

#include <QHash>
#include <QList>
#include <QString>

// Feeds of several sources turned into listing files: each read and placed by the data folder's
// channel map, then merged day by day and written together.

// A feed source as its update read it.
struct FeedSourceReading {
    QString source;           // the source's id
    qsizetype channels = 0;   // in the feed, a channel declared twice once
    qsizetype programmes = 0; // read from it
    QList<SourceChannel> placed;
    // Where the map places each channel, by its key.
    QHash<QString, ChannelPlace> places;
};

// What identifies a channel across sources: the key of its identity (ChannelAliases::Identify), so
// that "CCTV-1 综合" of one feed and "cctv1 HD" of another are one channel, and two names that a line
// of the alias file joins are too. The merged listing goes where the map places the channel of the
// highest source that gives it.
QString ChannelKey(const FeedChannel& channel);

// How a data folder's feeds are read and placed: its channel map and its aliases.
struct FeedPlacing {
    ChannelMap map;
    ChannelAliases aliases;
};
FeedPlacing LoadFeedPlacing(const QString& dataFolder);

// Reads the saved feed of the source `source` (plain or gzip), its starts in Beijing time moved by
// `offsetMinutes`, and places every channel with the map; a channel declared twice is one. Throws
// Exception when the feed cannot be read whole.
FeedSourceReading ReadFeedSource(const QString& path, const QString& source, int offsetMinutes,
                                 const FeedPlacing& placing);

// The 结果 text of a feed that was read: "成功：513个频道，17803个节目".
QString FeedSuccessText(const FeedSourceReading& reading);

// Writes the listings of the readings, the highest source first, merged day by day: every file
// under a temporary name first, then all renamed into place, recorded in the index of feed listings
// under the highest source that gives each; the listings that an earlier conversion of these sources
// wrote and this one does not are removed. Throws Exception on any failure, leaving every listing
// file as it was.
QList<ImportedListing> WriteMergedFeeds(const QString& dataFolder, const QList<FeedSourceReading>& readings);
