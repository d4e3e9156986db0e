#include "catalogue/CatalogueWalk.h"

#include "catalogue/ChannelNames.h"
#include "catalogue/FeedListingIndex.h"
#include "catalogue/FileNames.h"
#include "catalogue/FolderOrder.h"
#include "catalogue/Utf8.h"
#include "platform/AsciiCase.h"
#include "platform/CodePage.h"

#include <QByteArray>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

class DirectoryStream final {
public:
    explicit DirectoryStream(const char* path) : dir_(::opendir(path)) {}
    ~DirectoryStream() {
        if (dir_)
            ::closedir(dir_);
    }
    DirectoryStream(const DirectoryStream&) = delete;
    DirectoryStream& operator=(const DirectoryStream&) = delete;

    bool IsOpen() const { return dir_ != nullptr; }
    int Descriptor() const { return ::dirfd(dir_); }
    // Null at the end of the listing, and on a read error, which ends the listing the same way.
    const dirent* Next() { return ::readdir(dir_); }

private:
    DIR* dir_;
};

struct FolderId {
    dev_t device;
    ino_t inode;
    bool operator==(const FolderId&) const = default;
};

struct FolderIdHash {
    size_t operator()(const FolderId& id) const noexcept {
        return std::hash<ino_t>{}(id.inode) ^ (std::hash<dev_t>{}(id.device) << 1);
    }
};

struct QueuedFolder {
    QString path;     // ends in "/"
    QByteArray bytes; // the same path as the file system spells it
    bool identified;  // whether its FolderId is already in the visited set
};

class Walk final {
public:
    Walk(CatalogueSink& sink, WalkScope scope, const FeedListingNames* feedNames)
        : sink_(sink), scope_(scope),
          feedNames_(feedNames != nullptr && !feedNames->IsEmpty() ? feedNames : nullptr) {}

    void Run(const QString& folder) {
        QString root = folder;
        if (!root.endsWith(u'/'))
            root += u'/';
        if (scope_ == WalkScope::WithinFolder) {
            rootRealPath_ = RealPath(EncodeFileName(root));
            if (rootRealPath_.isEmpty())
                return;
            if (!rootRealPath_.endsWith('/'))
                rootRealPath_ += '/';
        }
        queue_.push_back({root, EncodeFileName(root), false});
        while (!queue_.empty()) {
            ListFolder(queue_.front());
            queue_.pop_front();
        }
    }

private:
    void ListFolder(const QueuedFolder& folder) {
        DirectoryStream stream(folder.bytes.constData());
        if (!stream.IsOpen())
            return;
        if (!folder.identified && !MarkVisited(stream.Descriptor()))
            return;
        for (const FolderEntry& entry : SortedEntries(stream))
            HandleEntry(folder, stream.Descriptor(), entry);
    }

    struct FolderEntry {
        QString key;     // FolderOrderKey of the name
        QString decoded; // the name as the catalogue keeps it (DecodeFileName)
        std::string name;
        unsigned char type;
        bool utf8; // whether the name is valid UTF-8
    };

    // The folder's entries but "." and "..", in the folder order the program's users know rather
    // than readdir's hash order. Each name is decoded once, here.
    static std::vector<FolderEntry> SortedEntries(DirectoryStream& stream) {
        std::vector<FolderEntry> entries;
        while (const dirent* entry = stream.Next()) {
            const std::string_view name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            std::optional<QString> text = DecodeUtf8Strict(name);
            const bool utf8 = text.has_value();
            QString decoded = utf8 ? std::move(*text) : DecodeFileName(name);
            QString key = FolderOrderKeyOfDecoded(decoded);
            entries.push_back({std::move(key), std::move(decoded), std::string(name), entry->d_type, utf8});
        }
        std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
            return FolderOrderLess(a.key, a.name, b.key, b.name);
        });
        return entries;
    }

    // False when the open folder was walked before.
    bool MarkVisited(int descriptor) {
        struct stat status {};
        if (::fstat(descriptor, &status) != 0)
            return true;
        return visited_.insert({status.st_dev, status.st_ino}).second;
    }

    static QByteArray RealPath(const QByteArray& path) {
        char* resolved = ::realpath(path.constData(), nullptr);
        QByteArray result(resolved);
        std::free(resolved);
        return result;
    }

    // Whether the entry may be taken: anything but a link, or a link that leads to a place below
    // the walked folder when the walk must stay in it.
    bool InScope(const QueuedFolder& folder, int descriptor, const FolderEntry& entry) const {
        if (scope_ == WalkScope::FollowLinks || (entry.type != DT_LNK && entry.type != DT_UNKNOWN))
            return true;
        struct stat status {};
        if (::fstatat(descriptor, entry.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        if (!S_ISLNK(status.st_mode))
            return true;
        QByteArray path = folder.bytes;
        path.append(entry.name.data(), static_cast<qsizetype>(entry.name.size()));
        return RealPath(path).startsWith(rootRealPath_);
    }

    void HandleEntry(const QueuedFolder& folder, int descriptor, const FolderEntry& entry) {
        const unsigned char type = entry.type;
        const std::string& name = entry.name;
        if (!InScope(folder, descriptor, entry))
            return;
        if (type == DT_DIR || type == DT_LNK || type == DT_UNKNOWN) {
            struct stat status {};
            if (::fstatat(descriptor, name.c_str(), &status, 0) == 0) {
                if (S_ISDIR(status.st_mode)) {
                    if (visited_.insert({status.st_dev, status.st_ino}).second)
                        AddFolder(folder, entry, true);
                    return;
                }
            } else if (type == DT_DIR) {
                // Cannot tell who it is yet; its identity is checked once it is opened.
                AddFolder(folder, entry, false);
                return;
            }
        }
        if (IsListingFileName(name))
            AddListing(folder, entry);
    }

    void AddFolder(const QueuedFolder& parent, const FolderEntry& entry, bool identified) {
        QByteArray bytes = parent.bytes;
        bytes.append(entry.name.data(), static_cast<qsizetype>(entry.name.size())).append('/');
        QString path = parent.path + entry.decoded + u'/';
        queue_.push_back({path, std::move(bytes), identified});
        sink_.FolderFound(path);
    }

    void AddListing(const QueuedFolder& folder, const FolderEntry& entry) {
        const QString path = folder.path + entry.decoded;
        if (feedNames_ != nullptr) {
            if (const FeedListingEntry* fromFeed = feedNames_->Find(path)) {
                sink_.ListingFound(path, fromFeed->name);
                return;
            }
        }
        if (entry.utf8) {
            sink_.ListingFound(path, ChannelDisplayName(entry.decoded));
            return;
        }
        // Not UTF-8: keep the bytes in the path, show the name as a Chinese system would.
        sink_.ListingFound(path, ChannelDisplayName(DecodeAnsi(entry.name)));
    }

    CatalogueSink& sink_;
    WalkScope scope_;
    const FeedListingNames* feedNames_; // null when there is none or it is empty
    QByteArray rootRealPath_;           // WithinFolder: the walked folder's place, ending in "/"
    std::deque<QueuedFolder> queue_;
    std::unordered_set<FolderId, FolderIdHash> visited_;
};

} // namespace

bool IsListingFileName(std::string_view fileName) {
    if (fileName.size() < 3)
        return false;
    const char* end = fileName.data() + fileName.size();
    return AsciiLower(end[-3]) == 't' && AsciiLower(end[-2]) == 'x' && AsciiLower(end[-1]) == 't';
}

void WalkCatalogue(const QString& folder, CatalogueSink& sink, WalkScope scope,
                   const FeedListingNames* feedNames) {
    Walk(sink, scope, feedNames).Run(folder);
}

void CatalogueCollector::FolderFound(const QString& folderPathWithSlash) {
    entries_.folders.append(folderPathWithSlash);
}

void CatalogueCollector::ListingFound(const QString& filePath, const QString& displayName) {
    entries_.listingPaths.append(filePath);
    entries_.displayNames.append(displayName);
}

CatalogueEntries CollectCatalogue(const QString& folder, WalkScope scope, const FeedListingNames* feedNames) {
    CatalogueCollector collector;
    WalkCatalogue(folder, collector, scope, feedNames);
    return collector.TakeEntries();
}
