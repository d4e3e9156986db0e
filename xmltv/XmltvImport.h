#pragma once

#include "xmltv/ChannelMap.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>

class QIODevice;

// Turning an XMLTV feed into listing files, in the text shape of the schedule packages.

// A feed larger than this once inflated is refused.
inline constexpr qint64 kMaxFeedBytes = qint64(1) << 30;

struct FeedProgramme {
    // The start as the feed writes it, in the programme's own offset (the channel's broadcast time).
    QDate date;
    QTime time;
    QString title; // with the sub-title joined by "："
};

struct FeedChannel {
    QString id;
    QStringList displayNames;        // in feed order
    QList<FeedProgramme> programmes; // in feed order
};

struct Feed {
    QList<FeedChannel> channels; // in feed order
};

// Reads a whole feed (plain or gzip, any encoding Qt reads, and GBK, GB2312 or GB18030 through the
// code-page stand-in). Throws Exception when the data is not an XMLTV document, breaks off, is
// malformed, expands entities beyond a small limit, or exceeds `maxFeedBytes` inflated. Programmes
// of channels that were never declared, without a usable start or without a title are left out.
Feed ReadXmltvFeed(QIODevice& device, qint64 maxFeedBytes = kMaxFeedBytes);

// A channel's listing file: UTF-8 with its mark, CR LF line ends; "<name> 一周节目预告", an empty
// line, then per date an empty line before a heading "YYYY-MM-DD 星期X" and "HH:MM title" lines in
// time order ("HH:MM:SS" when the seconds are not zero).
QByteArray ListingFileBytes(const QString& displayName, const QList<FeedProgramme>& programmes);

// The name the title line uses: the first display name with a Chinese character, else the first,
// else the id.
QString ChannelTitleName(const FeedChannel& channel);

struct ImportedListing {
    QString classFolder;
    QString fileName;
};

// Moves every programme's start by `minutes`, for a feed that labels its times wrongly.
void MoveProgrammes(QList<FeedProgramme>& programmes, int minutes);

// "name.txt" → "name(2).txt": the file of the second channel that the map sends to the same file.
QString NumberedFileName(const QString& fileName, int number);

// A listing to be written where the map placed it.
struct PlacedListing {
    ChannelPlace place;
    QByteArray bytes;
};

// Writes listings as the import writes its own: every file under a temporary name first, then all
// renamed into place; two listings placed on the same file get "(2)", "(3)", … before ".txt". Throws
// Exception on any failure, leaving every listing file as it was.
QList<ImportedListing> WritePlacedListings(const QString& dataFolder, const QList<PlacedListing>& listings);

// Reads the feed, places every channel with the data folder's channel map (written first when
// missing) and writes its listing file into its class folder. All files are written under
// temporary names first and renamed into place only after the whole feed was read and written,
// so a failure leaves every listing file as it was. Two channels that the map gives the same file
// get "(2)", "(3)", … before ".txt". Every start is moved by `offsetMinutes`. Throws Exception on any
// failure.
QList<ImportedListing> ImportXmltvFeed(QIODevice& device, const QString& dataFolder,
                                       qint64 maxFeedBytes = kMaxFeedBytes, int offsetMinutes = 0);
QList<ImportedListing> ImportXmltvFile(const QString& feedPath, const QString& dataFolder,
                                       int offsetMinutes = 0);
