#pragma once

#include "xmltv/ChannelMap.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// Where the listings of one import go on disk: each is written under a temporary name beside its
// place in its class folder, and all are put in place together at the end.

struct ImportedListing {
    QString classFolder;
    QString fileName;
};

class ListingPlacement final {
public:
    explicit ListingPlacement(QString dataFolder);
    // Removes the temporary files of an import that was not committed.
    ~ListingPlacement();
    ListingPlacement(const ListingPlacement&) = delete;
    ListingPlacement& operator=(const ListingPlacement&) = delete;

    // Writes a listing under a temporary name beside its place, making the class folder when
    // needed. Two listings that the map gives the same file get "(2)", "(3)", … before ".txt".
    // Throws Exception when the class folder is a link or no folder, or the file cannot be written.
    ImportedListing Stage(ChannelPlace place, const QByteArray& bytes);

    // Renames every staged file into place. Throws Exception when one cannot be.
    void Commit();

private:
    QString dataFolder_;
    QStringList finalPaths_;
    QSet<QString> taken_;
    QStringList temporaries_;
};
