#pragma once

#include <QString>
#include <QStringList>

class FeedListingNames;

#include <string_view>
#include <utility>

// A listing file's name, with A to Z lowered, ends in "txt"; no dot is needed. Judged on the name as
// the file system spells it, so a name that is not valid UTF-8 is judged all the same.
bool IsListingFileName(std::string_view fileName);

// Receives what the walk finds, in the order found.
class CatalogueSink {
public:
    virtual ~CatalogueSink() = default;
    // A folder below the walked one, its path ending in "/".
    virtual void FolderFound(const QString& folderPathWithSlash) = 0;
    // A listing file: its folder's path followed by the name as the file system gives it, and the
    // channel's display name: the feed's name when the index of feed listings has the file, else
    // the one made from the file's name.
    virtual void ListingFound(const QString& filePath, const QString& displayName) = 0;
};

// Where a walk may go. FollowLinks: a symbolic link is followed wherever it leads (the channel list
// shows what the user linked in). WithinFolder: a link is taken only when it leads to a place below
// the walked folder, so the walk never leaves it; a link that leads out is passed over.
enum class WalkScope { FollowLinks, WithinFolder };

// Walks the tree below `folder` breadth-first ("/" is appended when missing). Within a folder the
// entries come in folder order (catalogue/FolderOrder.h), hidden ones included. A folder that
// cannot be listed adds nothing and the walk goes on. A folder reached a second time (through a
// symbolic link or a bind mount) is not walked or reported again, so link loops end. Paths of names that are
// not valid UTF-8 are kept with DecodeFileName, so EncodeFileName gives back the same bytes. A listing
// that `feedNames` (the data folder's index, loaded by the caller) has goes by the name there.
// Exceptions thrown by the sink end the walk and reach the caller.
void WalkCatalogue(const QString& folder, CatalogueSink& sink, WalkScope scope = WalkScope::FollowLinks,
                   const FeedListingNames* feedNames = nullptr);

// What a walk found, in walk order.
struct CatalogueEntries {
    QStringList folders;      // every folder below the walked one, each path ending in "/"
    QStringList listingPaths; // the full path of every listing file
    QStringList displayNames; // the display name of the listing at the same index of listingPaths
};

// A sink that keeps what the walk finds. Paths and display names are added in one step, so they stay
// index-aligned even when the walk ends with an exception; Entries() then holds what came before it.
class CatalogueCollector final : public CatalogueSink {
public:
    void FolderFound(const QString& folderPathWithSlash) override;
    void ListingFound(const QString& filePath, const QString& displayName) override;

    const CatalogueEntries& Entries() const { return entries_; }
    CatalogueEntries TakeEntries() { return std::move(entries_); }

private:
    CatalogueEntries entries_;
};

// The scan as a value: walks the tree below `folder` as WalkCatalogue does and returns what it found.
// For programs and pages that list channels without the window. Exceptions reach the caller.
CatalogueEntries CollectCatalogue(const QString& folder, WalkScope scope = WalkScope::FollowLinks,
                                  const FeedListingNames* feedNames = nullptr);
