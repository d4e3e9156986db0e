#pragma once

#include "catalogue/FeedListingIndex.h"
#include "xmltv/ListingPlacement.h"

#include <QList>
#include <QString>
#include <QStringList>

// What an import of feeds records in the index of feed listings (catalogue/FeedListingIndex.h),
// and which listings of an earlier import it removes: those of the same sources that this import
// no longer writes, so that a channel the map moved is not left behind at its old place. A file
// the import did not write (another source's, a package's, one changed since) is never removed.

// Where a listing came from.
struct ListingOrigin {
    QString name;    // the name it is shown by
    QStringList ids; // the feed's channel ids
    QString source;
};

class FeedIndexUpdate final {
public:
    // `sources`: the sources whose listings this import writes anew.
    FeedIndexUpdate(QString dataFolder, QStringList sources);

    // A listing that the placement staged.
    void Written(const ImportedListing& listing, ListingOrigin origin);

    // Retires the listings of the import's sources that it no longer writes, stages the new index
    // and commits the placement: listings, removals and index all or none.
    void Commit(ListingPlacement& placement);

private:
    bool StillAsWritten(const FeedListingEntry& entry) const;

    QString dataFolder_;
    QStringList sources_;
    QList<FeedListingEntry> written_;
};
