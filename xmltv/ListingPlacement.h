#pragma once

#include "catalogue/FeedListingIndex.h"
#include "xmltv/ChannelMap.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>

class QIODevice;

// Where the listings of one import go on disk: each is written under a temporary name beside its
// place in its class folder, and all are put in place together at the end.

struct ImportedListing {
    QString classFolder;
    QString fileName;
    ListingStamp stamp; // of the file as written
};

// The file names of one import's listings. A name already given in its folder gets "(2)", "(3)", …
// before its ending, the first number not given yet; numbering goes on where it stopped, so n
// listings of one name take linear time.
class ListingNames final {
public:
    // The name the listing `fileName` of `folder` gets.
    QString Claim(const QString& folder, const QString& fileName);

private:
    QSet<QString> taken_;            // folder/name
    QHash<QString, int> nextNumber_; // folder/name as wanted → the number to try next
};

class ListingPlacement final {
public:
    // What puts a file in place, as rename(2) does; a test makes one fail.
    using RenameFunction = std::function<int(const char* from, const char* to)>;

    explicit ListingPlacement(QString dataFolder, RenameFunction rename = std::rename);
    // Removes the temporary files of an import that was not committed.
    ~ListingPlacement();
    ListingPlacement(const ListingPlacement&) = delete;
    ListingPlacement& operator=(const ListingPlacement&) = delete;

    // Writes a listing under a temporary name beside its place, making the class folder when
    // needed: `write` writes the file's bytes. Two listings that the map gives the same file get
    // "(2)", "(3)", … before ".txt". Throws Exception when the class folder is a link or no folder,
    // or the file cannot be written.
    ImportedListing Stage(ChannelPlace place, const std::function<void(QIODevice& file)>& write);
    ImportedListing Stage(ChannelPlace place, const QByteArray& bytes);

    // A listing of the data folder (a path relative to it) that the commit removes, after every
    // staged listing is in place: one an earlier import wrote that this one no longer writes. One
    // that is gone or no regular file by then is left as it is.
    void Retire(const QString& relativePath);

    // A file of the data folder itself, written now under a temporary name and put in place by the
    // commit after the listings are in place and the retired ones removed: the index of what the
    // import wrote, so that it never names listings that are not there.
    void StageLast(const QString& fileName, const QByteArray& bytes);

    // Puts every staged file in place and removes the retired listings, all or none: the files go
    // to the disk, then each is renamed over its listing; when a rename or a removal fails, the
    // listings already replaced or removed are put back and Exception is thrown. A crash in the
    // middle can leave some listings new and some old, each one whole.
    void Commit();

private:
    bool SyncDataFolder() const;
    void KeepPrevious(const QStringList& paths);
    void KeepRetired();
    void KeepSecondName(const QString& path);
    QString PutBack(const QStringList& placing, qsizetype placed, qsizetype removed);

    QString dataFolder_;
    QStringList finalPaths_;
    QStringList lastPaths_; // StageLast
    QStringList retired_;
    ListingNames names_;
    QStringList temporaries_;
    QSet<QString> previous_; // final paths whose listing has a second name to be put back from
    RenameFunction rename_;
};
