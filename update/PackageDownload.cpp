#include "update/PackageDownload.h"

#include "platform/SystemMessage.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

QString PackageTimeStamp(const QDateTime& localTime) {
    return localTime.toString(QStringLiteral("yyyy-MM-dd-HH-mm-ss")).remove(u'-');
}

QString PackageRequestAddress(const QString& packageAddress, const QDateTime& localTime) {
    return packageAddress + u'?' + PackageTimeStamp(localTime);
}

bool PackageFileExists(const QString& fileName) {
    struct stat info {};
    return !fileName.isEmpty() && ::stat(QFile::encodeName(fileName).constData(), &info) == 0 &&
           !S_ISDIR(info.st_mode);
}

bool IsWholePackage(int64_t bodySize, const ResponseHead& response) {
    const BodyFraming framing = FramingOf(response.Headers);
    return bodySize > 0 && (framing.kind != BodyFraming::Kind::Length || bodySize >= framing.length);
}

namespace {

// Only a plain file, or nothing, may stand where the package goes: the save replaces what it finds
// there, and a link would carry the bytes out of the data folder.
bool MayReplace(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return true;
    return S_ISREG(info.st_mode);
}

[[noreturn]] void Fail(const QString& what, const QString& path, int error) {
    throw PackageSaveError(QStringLiteral("%1 \"%2\". %3").arg(what, path, ErrnoMessageText(error)));
}

} // namespace

PackageFile::PackageFile(QString folder, QString fileName)
    : folder_(std::move(folder)), fileName_(std::move(fileName)) {}

PackageFile::~PackageFile() {
    Discard();
}

void PackageFile::Open() {
    if (fileName_.isEmpty() || fileName_.contains(u'/') || fileName_ == u"." || fileName_ == u".." ||
        !MayReplace(PackagePath()))
        throw PackageSaveError(QStringLiteral("Cannot create file \"%1\"").arg(PackagePath()));
    // Hidden, and ending in ".part" so that no scan ever takes it for a listing.
    QByteArray pattern = QFile::encodeName(folder_ + u'.' + fileName_) + ".XXXXXX.part";
    const int fd = ::mkostemps(pattern.data(), 5, O_CLOEXEC);
    if (fd < 0)
        Fail(QStringLiteral("Cannot create file"), PackagePath(), errno);
    file_.Reset(fd);
    temporaryPath_ = QFile::decodeName(pattern);
}

char* PackageFile::Reserve(qsizetype size) {
    if (!file_.valid())
        Open();
    if (room_.size() < static_cast<size_t>(size))
        room_.resize(static_cast<size_t>(size));
    return room_.data();
}

void PackageFile::Commit(qsizetype count) {
    for (qsizetype written = 0; written < count;) {
        const ssize_t rc = ::write(file_.get(), room_.data() + written, static_cast<size_t>(count - written));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            Fail(QStringLiteral("Error writing"), temporaryPath_, rc < 0 ? errno : ENOSPC);
        written += rc;
        size_ += rc;
    }
    StartWriteback();
}

void PackageFile::StartWriteback() {
    // The disk writes the package while it arrives, so the sync before the rename waits only for
    // the tail: a step is large enough to give the disk long runs.
    constexpr int64_t kStep = int64_t{8} << 20;
    if (size_ - writebackFrom_ < kStep)
        return;
    // Only starts the writing and does not wait for it; a failure shows in the fdatasync.
    ::sync_file_range(file_.get(), writebackFrom_, size_ - writebackFrom_, SYNC_FILE_RANGE_WRITE);
    writebackFrom_ = size_;
}

void PackageFile::Truncate(int64_t size) {
    if (!file_.valid() || size >= size_)
        return;
    if (::ftruncate(file_.get(), size) != 0 || ::lseek(file_.get(), size, SEEK_SET) < 0)
        Fail(QStringLiteral("Error writing"), temporaryPath_, errno);
    size_ = size;
    writebackFrom_ = std::min(writebackFrom_, size_);
}

void PackageFile::Replace() {
    if (!file_.valid())
        Open(); // an empty package: the file is made all the same
    if (!MayReplace(PackagePath()))
        throw PackageSaveError(QStringLiteral("Cannot create file \"%1\"").arg(PackagePath()));
    // The data reaches the disk before the name does: a crash after the rename never leaves a
    // package of the right name with holes in it.
    if (::fdatasync(file_.get()) != 0)
        Fail(QStringLiteral("Error writing"), temporaryPath_, errno);
    file_.Reset();
    if (::rename(QFile::encodeName(temporaryPath_).constData(),
                 QFile::encodeName(PackagePath()).constData()) != 0)
        Fail(QStringLiteral("Cannot create file"), PackagePath(), errno);
    temporaryPath_.clear();
}

void PackageFile::Discard() {
    file_.Reset();
    if (!temporaryPath_.isEmpty())
        ::unlink(QFile::encodeName(temporaryPath_).constData());
    temporaryPath_.clear();
    size_ = 0;
    writebackFrom_ = 0;
}

void SavePackage(const QByteArray& package, const QString& folder, const QString& fileName) {
    PackageFile file(folder, fileName);
    file.Append(package.constData(), package.size());
    file.Replace();
}
