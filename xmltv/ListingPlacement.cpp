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
    return {place.classFolder, place.fileName};
}

void ListingPlacement::Commit() {
    if (!SyncDataFolder())
        throw Exception(QStringLiteral("Cannot write the listings of \"%1\" to the disk: %2")
                            .arg(dataFolder_, ErrorText(errno)));
    KeepPrevious();
    qsizetype placed = 0;
    for (; placed < finalPaths_.size(); ++placed) {
        const QString& path = finalPaths_[placed];
        if (rename_(Encoded(path + kTemporarySuffix).constData(), Encoded(path).constData()) != 0) {
            const QString error = ErrorText(errno);
            throw Exception(QStringLiteral("Cannot put the listing \"%1\" in place: %2").arg(path, error) +
                            PutBack(placed));
        }
    }
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

// A second name for each listing that is to be replaced, so that it can be put back. A hard link
// keeps the listing in place meanwhile; a file system without links (FAT) gets a copy.
void ListingPlacement::KeepPrevious() {
    for (const QString& path : finalPaths_) {
        struct stat status {};
        if (::lstat(Encoded(path).constData(), &status) != 0) {
            if (errno == ENOENT)
                continue;
            throw Exception(QStringLiteral("Cannot look at \"%1\": %2").arg(path, ErrorText(errno)));
        }
        if (!S_ISREG(status.st_mode))
            throw Exception(QStringLiteral("\"%1\" is in the way of a listing").arg(path));
        const QByteArray previous = Encoded(path + kPreviousSuffix);
        ::unlink(previous.constData()); // a leftover of an import that was cut off
        if (::link(Encoded(path).constData(), previous.constData()) != 0) {
            const int error = errno;
            if (!QFile::copy(path, path + kPreviousSuffix))
                throw Exception(QStringLiteral("Cannot keep the listing \"%1\" to put back: %2")
                                    .arg(path, ErrorText(error)));
        }
        previous_.insert(path);
    }
}

// Undoes the first `placed` renames: the listings they replaced come back, new ones go. Returns a
// note of the listings that could not be put back, whose files keep their second name.
QString ListingPlacement::PutBack(qsizetype placed) {
    QString note;
    for (qsizetype i = placed - 1; i >= 0; --i) {
        const QString& path = finalPaths_[i];
        if (!previous_.remove(path))
            ::unlink(Encoded(path).constData());
        else if (rename_(Encoded(path + kPreviousSuffix).constData(), Encoded(path).constData()) != 0)
            note += QStringLiteral("; the listing \"%1\" stays in \"%1%2\"").arg(path, kPreviousSuffix);
    }
    for (const QString& path : previous_)
        QFile::remove(path + kPreviousSuffix); // their listings were never replaced
    previous_.clear();
    return note;
}
