#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The listings that feeds gave: the import records each listing file it writes in an index in the
// data folder, so that the channel list, the on-air page, the search and the export show such a
// file under its channel's own name instead of the name the display-name table makes of its file
// name, and the next import of the same source knows which files it wrote.
//
// The index is the UTF-8 text file "feed-listings.index" (its name does not end in "txt", so the
// walk never lists it), one listing a line:
//
//     path<TAB>name<TAB>source<TAB>size<TAB>modified<TAB>id[<TAB>id…]
//
// path relative to the data folder with "/" between folders; the size in bytes and the
// modification time in seconds since 1970 of the file as the import wrote it; in each field "\",
// tab, line feed and carriage return are written "\\", "\t", "\n" and "\r". A line starting with
// "#" is a comment.

inline constexpr const char16_t* kFeedListingIndexFileName = u"feed-listings.index";
// Ten thousand channels of long names take a few megabytes.
inline constexpr qint64 kMaxFeedListingIndexBytes = qint64(32) << 20;

// What tells the file the import wrote from one written over it since (by a package, or by hand).
// Seconds, not finer: some file systems keep no more.
struct ListingStamp {
    qint64 size = -1;
    qint64 modified = 0;
    bool operator==(const ListingStamp&) const = default;
};

// The stamp of the regular file at `path`; empty when there is none (a link there is none either:
// the import writes no links).
std::optional<ListingStamp> StampOf(const QString& path);

struct FeedListingEntry {
    QString path; // relative to the data folder
    QString name;
    QString source;
    QStringList ids; // the feed's channel ids, the first the channel's own
    ListingStamp stamp;
};

QByteArray FormatFeedListingIndex(const QList<FeedListingEntry>& entries);
// Lines that are not whole entries are left out.
QList<FeedListingEntry> ParseFeedListingIndex(QStringView text);

// The index of a data folder, read without blocking and bounded in size. Empty when there is none;
// an index that is no regular file, is too large or cannot be read is named in the log and taken
// as empty.
QList<FeedListingEntry> ReadFeedListingIndex(const QString& dataFolder);

// The index as the catalogue looks listings up in it, by their full paths.
class FeedListingNames final {
public:
    FeedListingNames() = default;
    FeedListingNames(const QString& dataFolder, const QList<FeedListingEntry>& entries);
    static FeedListingNames Load(const QString& dataFolder);

    bool IsEmpty() const { return byPath_.isEmpty(); }
    // The entry of the listing at `path` (the data folder followed by the entry's path, as the
    // walk makes it) when the file there is still the one the import wrote; null otherwise.
    const FeedListingEntry* Find(const QString& path) const;

private:
    QHash<QString, FeedListingEntry> byPath_;
};
