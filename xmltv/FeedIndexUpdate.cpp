#include "xmltv/FeedIndexUpdate.h"

#include "catalogue/CatalogueWalk.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <sys/stat.h>

namespace {

// Only a listing file in a class folder, as the import writes them: the index is a file of the data
// folder that anybody who can write there can change, and must never lead a removal elsewhere.
bool IsPlacedListingPath(const QString& dataFolder, const QString& relativePath) {
    const QStringList parts = relativePath.split(u'/');
    if (parts.size() != 2 || !IsPlainName(parts[0]) || !IsPlainName(parts[1]) ||
        !IsListingFileName(parts[1].toStdString()))
        return false;
    struct stat status {};
    return ::lstat(QFile::encodeName(QDir(dataFolder).filePath(parts[0])).constData(), &status) == 0 &&
           S_ISDIR(status.st_mode);
}

} // namespace

FeedIndexUpdate::FeedIndexUpdate(QString dataFolder, QStringList sources)
    : dataFolder_(std::move(dataFolder)), sources_(std::move(sources)) {}

void FeedIndexUpdate::Written(const ImportedListing& listing, ListingOrigin origin) {
    written_.append({listing.classFolder + u'/' + listing.fileName, std::move(origin.name),
                     std::move(origin.source), std::move(origin.ids), listing.stamp});
}

bool FeedIndexUpdate::StillAsWritten(const FeedListingEntry& entry) const {
    return IsPlacedListingPath(dataFolder_, entry.path) &&
           StampOf(QDir(dataFolder_).filePath(entry.path)) == entry.stamp;
}

void FeedIndexUpdate::Commit(ListingPlacement& placement) {
    QSet<QString> writtenPaths;
    for (const FeedListingEntry& entry : std::as_const(written_))
        writtenPaths.insert(entry.path);
    QList<FeedListingEntry> index;
    for (const FeedListingEntry& entry : ReadFeedListingIndex(dataFolder_)) {
        if (writtenPaths.contains(entry.path) || !StillAsWritten(entry))
            continue; // written anew, or no longer the file the import wrote
        if (sources_.contains(entry.source))
            placement.Retire(entry.path);
        else
            index.append(entry);
    }
    index.append(written_);
    placement.StageLast(QString::fromUtf16(kFeedListingIndexFileName), FormatFeedListingIndex(index));
    placement.Commit();
}
