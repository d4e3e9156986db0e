#pragma once

#include "xmltv/XmltvImport.h"

#include <QDate>
#include <QList>
#include <QString>

// Several sources that give the same channel make one listing: each day comes whole from the
// highest source in the table that has that day, and a day that only a lower source has is kept.
// No day mixes two sources.

// What one source gives for one channel.
struct SourceChannel {
    QString key;   // the channel's identity, the same in every source that gives it
    QString title; // the name the listing's title line shows
    QList<FeedProgramme> programmes;
    QStringList ids; // the feed's channel ids
};

struct MergedDay {
    QDate date;
    int source = -1; // the index of the source it came from
    QList<FeedProgramme> programmes;
};

struct MergedChannel {
    QString key;
    QString title;         // from the highest source that gives the channel
    QList<MergedDay> days; // in date order
    QStringList ids;       // from the highest source that gives the channel
    int source = -1;       // the highest source that gives the channel
};

// `sources` holds one list per source, the highest first (the table's order). The channels come out
// in the order the sources first give them; a day is the date of a programme's start.
QList<MergedChannel> MergeSourceChannels(const QList<QList<SourceChannel>>& sources);

// The merged channel's programmes, day after day.
QList<FeedProgramme> ProgrammesOf(const MergedChannel& channel);
