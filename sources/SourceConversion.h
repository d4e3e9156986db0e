#pragma once

#include "sources/SourceMerge.h"
#include "xmltv/ChannelMap.h"
#include "xmltv/XmltvImport.h"

#include <QHash>
#include <QList>
#include <QString>

// Feeds of several sources turned into listing files: each read and placed by the data folder's
// channel map, then merged day by day and written together.

// A feed source as its update read it.
struct FeedSourceReading {
    qsizetype channels = 0;   // in the feed
    qsizetype programmes = 0; // read from it
    QList<SourceChannel> placed;
    // Where the map places each channel, by its key.
    QHash<QString, ChannelPlace> places;
};

// What identifies a channel across sources: for now the class folder and file name the map gives
// it. A key made from the channel's id and names takes its place here; the merged listing still
// goes where the map places the channel of the highest source that gives it.
QString ChannelKey(const ChannelPlace& place);

// Reads a saved feed (plain or gzip), moves every start by `offsetMinutes` and places every channel
// with the map; two channels that the map gives the same file are numbered as the import numbers
// them. Throws Exception when the feed cannot be read whole.
FeedSourceReading ReadFeedSource(const QString& path, int offsetMinutes, const ChannelMap& map);

// The 结果 text of a feed that was read: "成功：513个频道，17803个节目".
QString FeedSuccessText(const FeedSourceReading& reading);

// Writes the listings of the readings, the highest source first, merged day by day: every file
// under a temporary name first, then all renamed into place. Throws Exception on any failure,
// leaving every listing file as it was.
QList<ImportedListing> WriteMergedFeeds(const QString& dataFolder, const QList<FeedSourceReading>& readings);
