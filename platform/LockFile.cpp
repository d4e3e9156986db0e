#include "platform/LockFile.h"

#include "platform/SystemMessage.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int LockWithoutWaiting(int fd) {
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : errno;
}

} // namespace

LockFile::LockFile(const QString& path, Leftover leftover, mode_t mode) : path_(path), leftover_(leftover) {
    Claim(mode);
}

void LockFile::Claim(mode_t mode) {
    const QByteArray name = QFile::encodeName(path_);
    // A few rounds at most: each one lost means that another process removed the file meanwhile.
    for (int round = 0; round < 100; ++round) {
        // Never through a link, whose planter would choose the file; without blocking on a pipe.
        fd_.Reset(::open(name.constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, mode));
        struct stat opened {};
        if (!fd_.valid() || ::fstat(fd_.get(), &opened) != 0) {
            problem_ = QStringLiteral("cannot open %1: %2").arg(path_, ErrnoMessageText(errno));
            fd_.Reset();
            return;
        }
        if (!S_ISREG(opened.st_mode)) {
            problem_ = QStringLiteral("cannot open %1: not a plain file").arg(path_);
            fd_.Reset();
            return;
        }
        if (const int error = LockWithoutWaiting(fd_.get()); error != 0) {
            outcome_ = error == EWOULDBLOCK ? Outcome::Busy : Outcome::NoHandle;
            if (outcome_ == Outcome::NoHandle)
                problem_ = QStringLiteral("cannot lock %1: %2").arg(path_, ErrnoMessageText(error));
            fd_.Reset();
            return;
        }
        // The holder before us may have removed the file after we opened it: then the lock is on a
        // file that nobody else will ever open.
        struct stat named {};
        if (leftover_ == Leftover::Keep ||
            (::lstat(name.constData(), &named) == 0 && SameFile(opened, named))) {
            outcome_ = Outcome::Claimed;
            return;
        }
    }
    fd_.Reset();
    problem_ = QStringLiteral("cannot lock %1: it keeps being replaced").arg(path_);
}

LockFile::~LockFile() {
    // Removed while still locked, so no other process can lock the file that goes.
    if (outcome_ == Outcome::Claimed && leftover_ == Leftover::Remove)
        ::unlink(QFile::encodeName(path_).constData());
}

namespace {

// The data folder locks this process holds, by lock file path, with the count of their holds.
struct HeldLocks {
    std::mutex mutex;
    std::map<QString, std::pair<std::unique_ptr<LockFile>, int>> locks;
};

HeldLocks& LocksOfThisProcess() {
    static HeldLocks held;
    return held;
}

} // namespace

DataFolderLock::DataFolderLock(const QString& dataFolder)
    : path_((dataFolder.endsWith(u'/') ? dataFolder : dataFolder + u'/') + QString::fromUtf16(kFileName)) {
    HeldLocks& held = LocksOfThisProcess();
    const std::lock_guard<std::mutex> guard(held.mutex);
    if (const auto it = held.locks.find(path_); it != held.locks.end()) {
        ++it->second.second;
        held_ = true;
        return;
    }
    auto lock = std::make_unique<LockFile>(path_, LockFile::Leftover::Remove, 0644);
    switch (lock->outcome()) {
    case LockFile::Outcome::Claimed:
        held.locks.emplace(path_, std::make_pair(std::move(lock), 1));
        held_ = true;
        break;
    case LockFile::Outcome::Busy:
        busy_ = true;
        break;
    case LockFile::Outcome::NoHandle:
        problem_ = lock->problem();
        break;
    }
}

DataFolderLock::~DataFolderLock() {
    if (!held_)
        return;
    HeldLocks& held = LocksOfThisProcess();
    const std::lock_guard<std::mutex> guard(held.mutex);
    const auto it = held.locks.find(path_);
    if (it != held.locks.end() && --it->second.second == 0)
        held.locks.erase(it);
}
