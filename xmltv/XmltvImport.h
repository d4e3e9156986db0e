#pragma once

#include "xmltv/FeedReader.h"
#include "xmltv/ListingPlacement.h"

#include <QList>
#include <QString>

class QIODevice;

// Turning an XMLTV feed into listing files, in the text shape of the schedule packages.

// Reads the feed, places every channel with the data folder's channel map (written first when
// missing) and writes its listing file into its class folder. All files are written under
// temporary names first and put in place only after the whole feed was read and written, all or
// none (ListingPlacement::Commit), so a failure leaves every listing file as it was. Two channels that the
// map gives the same file get "(2)", "(3)", … before ".txt". Throws Exception on any failure.
QList<ImportedListing> ImportXmltvFeed(QIODevice& device, const QString& dataFolder,
                                       qint64 maxFeedBytes = kMaxFeedBytes);
QList<ImportedListing> ImportXmltvFile(const QString& feedPath, const QString& dataFolder);

// Reads the whole feed as the import does and writes nothing: throws Exception for a feed that the
// import would refuse (not an XMLTV document, not whole, malformed, beyond a bound).
void CheckXmltvFile(const QString& feedPath);
