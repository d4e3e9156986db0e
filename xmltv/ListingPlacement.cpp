#include "xmltv/ListingPlacement.h"

#include "platform/Exception.h"

#include "platform/FileDescriptor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kTemporarySuffix = QStringLiteral(".xmltv-part");
// The listing a file replaced, kept until every file of the import is in place.
const QString kPreviousSuffix = QStringLiteral(".xmltv-old");

QByteArray Encoded(const QString& path) {
    return QFile::encodeName(path);
}

QString ErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString ClassFolderPath(const QString& dataFolder, const QString& classFolder) {
    QString path = QDir(dataFolder).filePath(classFolder);
    const QFileInfo info(path);
    // A link would lead the listings out of the data folder.
    if (info.isSymLink() || (info.exists() && !info.isDir()))
        throw Exception(
            QStringLiteral("The class folder \"%1\" is not a folder of the data folder").arg(path));
    if (!info.exists() && !QDir().mkdir(path))
        throw Exception(QStringLiteral("Cannot make the class folder \"%1\"").arg(path));
    return path;
}

void WriteNewFile(const QString& path, const std::function<void(QIODevice& file)>& write) {
    QFile::remove(path); // a leftover of an earlier import; never followed if it is a link
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        write(file);
        if (file.flush() && file.error() == QFileDevice::NoError)
            return;
    }
    throw Exception(QStringLiteral("Cannot write \"%1\": %2").arg(path, file.errorString()));
}

// "name.txt" → "name(2).txt" for the second channel that the map sends to the same file.
QString NumberedFileName(const QString& fileName, int number) {
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const qsizetype stem = dot > 0 ? dot : fileName.size();
    return fileName.first(stem) + u'(' + QString::number(number) + u')' + fileName.sliced(stem);
}

} // namespace

QString ListingNames::Claim(const QString& folder, const QString& fileName) {
    const QString wanted = folder + u'/' + fileName;
    if (!taken_.contains(wanted)) {
        taken_.insert(wanted);
        return fileName;
    }
    int& number = nextNumber_[wanted];
    number = std::max(number, 2);
    for (;; ++number) {
        QString numbered = NumberedFileName(fileName, number);
        if (!taken_.contains(folder + u'/' + numbered)) {
            taken_.insert(folder + u'/' + numbered);
            ++number;
            return numbered;
        }
    }
}

ListingPlacement::ListingPlacement(QString dataFolder, RenameFunction rename)
    : dataFolder_(std::move(dataFolder)), rename_(std::move(rename)) {}

ListingPlacement::~ListingPlacement() {
    for (const QString& path : temporaries_)
        QFile::remove(path);
    for (const QString& path : previous_)
        QFile::remove(path + kPreviousSuffix);
}

ImportedListing ListingPlacement::Stage(ChannelPlace place, const QByteArray& bytes) {
    return Stage(std::move(place), [&bytes](QIODevice& file) { file.write(bytes); });
}

ImportedListing ListingPlacement::Stage(ChannelPlace place,
                                        const std::function<void(QIODevice& file)>& write) {
    const QString folder = ClassFolderPath(dataFolder_, place.classFolder);
    place.fileName = names_.Claim(folder, place.fileName);
    const QString path = folder + u'/' + place.fileName;
    temporaries_.append(path + kTemporarySuffix);
    WriteNewFile(path + kTemporarySuffix, write);
    finalPaths_.append(path);
    // The rename that puts it in place keeps its size and time.
    return {place.classFolder, place.fileName, StampOf(path + kTemporarySuffix).value_or(ListingStamp{})};
}

void ListingPlacement::Retire(const QString& relativePath) {
    retired_.append(QDir(dataFolder_).filePath(relativePath));
}

void ListingPlacement::StageLast(const QString& fileName, const QByteArray& bytes) {
    const QString path = QDir(dataFolder_).filePath(fileName);
    temporaries_.append(path + kTemporarySuffix);
    WriteNewFile(path + kTemporarySuffix, [&bytes](QIODevice& file) { file.write(bytes); });
    lastPaths_.append(path);
}

void ListingPlacement::Commit() {
    if (!SyncDataFolder())
        throw Exception(QStringLiteral("Cannot write the listings of \"%1\" to the disk: %2")
                            .arg(dataFolder_, ErrorText(errno)));
    const QStringList placing = finalPaths_ + lastPaths_;
    KeepPrevious(placing);
    KeepRetired();
    qsizetype placed = 0;
    qsizetype removed = 0;
    const auto putIntoPlace = [&](qsizetype until) {
        for (; placed < until; ++placed) {
            const QString& path = placing[placed];
            if (rename_(Encoded(path + kTemporarySuffix).constData(), Encoded(path).constData()) != 0) {
                const QString error = ErrorText(errno);
                throw Exception(
                    QStringLiteral("Cannot put the listing \"%1\" in place: %2").arg(path, error) +
                    PutBack(placing, placed, removed));
            }
        }
    };
    putIntoPlace(finalPaths_.size());
    for (; removed < retired_.size(); ++removed) {
        if (::unlink(Encoded(retired_[removed]).constData()) != 0 && errno != ENOENT) {
            const QString error = ErrorText(errno);
            throw Exception(
                QStringLiteral("Cannot remove the listing \"%1\": %2").arg(retired_[removed], error) +
                PutBack(placing, placed, removed));
        }
    }
    putIntoPlace(placing.size());
    temporaries_.clear();
    for (const QString& path : previous_)
        QFile::remove(path + kPreviousSuffix);
    previous_.clear();
    SyncDataFolder(); // the renames; the listings are in place whatever it says
}

// Every staged file on the disk before the first rename, so that a crash afterwards cannot leave
// an empty listing in place. One sync of the file system instead of one per file: a feed has
// thousands of channels, and each file's own sync would wait for the disk.
bool ListingPlacement::SyncDataFolder() const {
    const FileDescriptor folder(::open(Encoded(dataFolder_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.valid() && ::syncfs(folder.get()) == 0;
}

// A second name for each listing that is to be replaced, so that it can be put back.
void ListingPlacement::KeepPrevious(const QStringList& paths) {
    for (const QString& path : paths) {
        struct stat status {};
        if (::lstat(Encoded(path).constData(), &status) != 0) {
            if (errno == ENOENT)
                continue;
            throw Exception(QStringLiteral("Cannot look at \"%1\": %2").arg(path, ErrorText(errno)));
        }
        if (!S_ISREG(status.st_mode))
            throw Exception(QStringLiteral("\"%1\" is in the way of a listing").arg(path));
        KeepSecondName(path);
    }
}

// A retired listing keeps a second name too until the commit is done; one that is gone, or is no
// regular file (a link a person put there), is not removed.
void ListingPlacement::KeepRetired() {
    QStringList kept;
    for (const QString& path : std::as_const(retired_)) {
        struct stat status {};
        if (::lstat(Encoded(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
            continue;
        KeepSecondName(path);
        kept.append(path);
    }
    retired_ = kept;
}

// A hard link keeps the listing in place meanwhile; a file system without links (FAT) gets a copy.
void ListingPlacement::KeepSecondName(const QString& path) {
    const QByteArray previous = Encoded(path + kPreviousSuffix);
    ::unlink(previous.constData()); // a leftover of an import that was cut off
    if (::link(Encoded(path).constData(), previous.constData()) != 0) {
        const int error = errno;
        if (!QFile::copy(path, path + kPreviousSuffix))
            throw Exception(
                QStringLiteral("Cannot keep the listing \"%1\" to put back: %2").arg(path, ErrorText(error)));
    }
    previous_.insert(path);
}

// Undoes the first `removed` removals and the first `placed` renames: the listings they removed or
// replaced come back, new ones go. Returns a note of the listings that could not be put back,
// whose files keep their second name.
QString ListingPlacement::PutBack(const QStringList& placing, qsizetype placed, qsizetype removed) {
    QString note;
    const auto restore = [&](const QString& path) {
        if (rename_(Encoded(path + kPreviousSuffix).constData(), Encoded(path).constData()) != 0)
            note += QStringLiteral("; the listing \"%1\" stays in \"%1%2\"").arg(path, kPreviousSuffix);
        previous_.remove(path);
    };
    for (qsizetype i = removed - 1; i >= 0; --i)
        restore(retired_[i]);
    for (qsizetype i = placed - 1; i >= 0; --i) {
        const QString& path = placing[i];
        if (previous_.contains(path))
            restore(path);
        else
            ::unlink(Encoded(path).constData());
    }
    for (const QString& path : previous_)
        QFile::remove(path + kPreviousSuffix); // their listings were never replaced or removed
    previous_.clear();
    return note;
}
