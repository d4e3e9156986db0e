#pragma once

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

    // Puts every staged file in place, all or none: the files go to the disk, then each is renamed
    // over its listing; when a rename fails, the listings already replaced are put back and
    // Exception is thrown. A crash in the middle can leave some listings new and some old, each
    // one whole.
    void Commit();

private:
    bool SyncDataFolder() const;
    void KeepPrevious();
    QString PutBack(qsizetype placed);

    QString dataFolder_;
    QStringList finalPaths_;
    ListingNames names_;
    QStringList temporaries_;
    QSet<QString> previous_; // final paths whose listing has a second name to be put back from
    RenameFunction rename_;
};
