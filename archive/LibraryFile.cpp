#include "archive/LibraryFile.h"

#include "platform/SystemMessage.h"
#include "resources/EmbeddedLibrary.h"

#include <QCryptographicHash>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kBlockSize = size_t{64} * 1024;
// The longest name memfd_create takes.
constexpr qsizetype kMaxCopyName = 249;

QString Reason(const QString& path, const QString& what) {
    return QStringLiteral("%1: %2").arg(path, what);
}

// Reads what is left of the file into block; the count, 0 at the end, -1 on an error.
ssize_t ReadSome(int fd, char* block, size_t size) {
    for (;;) {
        const ssize_t count = ::read(fd, block, size);
        if (count >= 0 || errno != EINTR)
            return count;
    }
}

bool WriteAll(int fd, const char* bytes, size_t size) {
    while (size > 0) {
        const ssize_t count = ::write(fd, bytes, size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        bytes += count;
        size -= static_cast<size_t>(count);
    }
    return true;
}

// Copies the file into target; false when it holds more than limit bytes or cannot be read.
bool CopyAtMost(int file, int target, uint64_t limit, uint64_t& copied) {
    char block[kBlockSize];
    copied = 0;
    for (;;) {
        const ssize_t count = ReadSome(file, block, sizeof block);
        if (count < 0)
            return false;
        if (count == 0)
            return true;
        copied += static_cast<uint64_t>(count);
        if (copied > limit || !WriteAll(target, block, static_cast<size_t>(count)))
            return false;
    }
}

QByteArray Sha256HexFrom(int fd) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char block[kBlockSize];
    for (off_t offset = 0;;) {
        const ssize_t count = ::pread(fd, block, sizeof block, offset);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return {};
        if (count == 0)
            return hash.result().toHex();
        hash.addData(QByteArrayView(block, count));
        offset += count;
    }
}

} // namespace

TLibraryImage EmbeddedLibraryImage() {
    return {kEmbeddedLibrarySize, QByteArray(kEmbeddedLibrarySha256)};
}

FileDescriptor OpenTrustedLibraryFile(const QString& path, QString* problem) {
    // Without blocking: a pipe planted at the name must not hold the update.
    FileDescriptor file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat status {};
    if (!file.valid() || ::fstat(file.get(), &status) != 0) {
        *problem = Reason(path, ErrnoMessageText(errno));
        return {};
    }
    if (!S_ISREG(status.st_mode)) {
        *problem = Reason(path, QStringLiteral("not a plain file"));
        return {};
    }
    // Whoever may change the file may run code in this program.
    if (status.st_uid != ::geteuid() && status.st_uid != 0) {
        *problem = Reason(path, QStringLiteral("owned by user %1").arg(status.st_uid));
        return {};
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        *problem = Reason(path, QStringLiteral("writable by others (mode %1)")
                                    .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0')));
        return {};
    }
    return file;
}

FileDescriptor SealedLibraryCopy(int file, const TLibraryImage& image, const QString& name,
                                 QString* problem) {
    const QByteArray copyName = QFile::encodeName(name).right(kMaxCopyName);
    FileDescriptor copy(::memfd_create(copyName.constData(), MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!copy.valid()) {
        *problem = Reason(name, QStringLiteral("no copy in memory: %1").arg(ErrnoMessageText(errno)));
        return {};
    }
    uint64_t copied = 0;
    if (!CopyAtMost(file, copy.get(), image.Size, copied) || copied != image.Size) {
        *problem = Reason(name, QStringLiteral("not the embedded library (size)"));
        return {};
    }
    if (::fcntl(copy.get(), F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        *problem = Reason(name, QStringLiteral("copy not sealed: %1").arg(ErrnoMessageText(errno)));
        return {};
    }
    if (Sha256HexFrom(copy.get()) != image.Sha256Hex.toLower()) {
        *problem = Reason(name, QStringLiteral("not the embedded library (content)"));
        return {};
    }
    return copy;
}
