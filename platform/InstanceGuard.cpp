#include "platform/InstanceGuard.h"

#include "platform/SystemMessage.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString EnvironmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? QFile::decodeName(value) : QString();
}

// The folder's status without following a link at its place; false with *problem when it has none.
bool FolderStatus(const QString& folder, struct stat& status, QString* problem) {
    if (::lstat(QFile::encodeName(folder).constData(), &status) == 0)
        return true;
    *problem = QStringLiteral("%1: %2").arg(folder, ErrnoMessageText(errno));
    return false;
}

bool UsableRuntimeFolder(const QString& folder, uid_t user) {
    struct stat status {};
    return QDir::isAbsolutePath(folder) && ::stat(QFile::encodeName(folder).constData(), &status) == 0 &&
           IsPrivateFolder(status, user);
}

bool MakePrivateTemporaryFolder(const QString& folder, uid_t user, QString* problem) {
    if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
        *problem = QStringLiteral("%1: %2").arg(folder, ErrnoMessageText(errno));
        return false;
    }
    struct stat status {};
    if (!FolderStatus(folder, status, problem))
        return false;
    if (!IsPrivateFolder(status, user)) {
        *problem = QStringLiteral("%1 is not a folder of mode 0700 owned by user %2").arg(folder).arg(user);
        return false;
    }
    return true;
}

bool UsableCacheFolder(const QString& folder, uid_t user, QString* problem) {
    if (!QDir::isAbsolutePath(folder)) {
        *problem = QStringLiteral("no cache folder (HOME is not set)");
        return false;
    }
    QDir().mkpath(folder);
    struct stat status {};
    if (::stat(QFile::encodeName(folder).constData(), &status) != 0) {
        *problem = QStringLiteral("%1: %2").arg(folder, ErrnoMessageText(errno));
        return false;
    }
    if (!S_ISDIR(status.st_mode) || status.st_uid != user) {
        *problem = QStringLiteral("%1 is not a folder owned by user %2").arg(folder).arg(user);
        return false;
    }
    return true;
}

} // namespace

LockFolderSources LockFolderSourcesFromEnvironment() {
    LockFolderSources sources;
    sources.RuntimeFolder = EnvironmentPath("XDG_RUNTIME_DIR");
    sources.CacheFolder = EnvironmentPath("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(sources.CacheFolder)) {
        const QString home = EnvironmentPath("HOME");
        sources.CacheFolder = home.isEmpty() ? QString() : home + QStringLiteral("/.cache");
    }
    sources.User = ::getuid();
    return sources;
}

bool IsPrivateFolder(const struct stat& status, uid_t user) {
    return S_ISDIR(status.st_mode) && status.st_uid == user && (status.st_mode & 07777) == 0700;
}

QString ChooseLockFolder(const LockFolderSources& sources, QString* problem) {
    if (UsableRuntimeFolder(sources.RuntimeFolder, sources.User))
        return sources.RuntimeFolder;
    QString temporary =
        sources.SharedTemporaryFolder + QStringLiteral("/pelnavi-") + QString::number(sources.User);
    QString temporaryProblem;
    if (MakePrivateTemporaryFolder(temporary, sources.User, &temporaryProblem))
        return temporary;
    QString cacheProblem;
    if (UsableCacheFolder(sources.CacheFolder, sources.User, &cacheProblem))
        return sources.CacheFolder;
    *problem = QStringLiteral("no folder of the user's own for the instance lock (%1; %2)")
                   .arg(temporaryProblem, cacheProblem);
    return {};
}

InstanceGuard::InstanceGuard(const QString& name, const QString& lockFolder, const QString& programFolder) {
    const QString folder =
        lockFolder.isEmpty() ? ChooseLockFolder(LockFolderSourcesFromEnvironment(), &problem_) : lockFolder;
    if (folder.isEmpty())
        return;
    path_ = folder + u'/' + name + QStringLiteral(".lock");
    loginLock_ = std::make_unique<LockFile>(path_, LockFile::Leftover::Keep, 0600);
    if (Take(loginLock_, "instance lock") != Outcome::Claimed || programFolder.isEmpty())
        return;
    // Anyone who may start the copy may read the file, and so take the lock.
    const QString folderLockPath = (programFolder.endsWith(u'/') ? programFolder : programFolder + u'/') +
                                   u'.' + name + QStringLiteral(".lock");
    folderLock_ = std::make_unique<LockFile>(folderLockPath, LockFile::Leftover::Remove, 0644);
    if (Take(folderLock_, "program folder's lock") != Outcome::Claimed)
        loginLock_.reset();
}

InstanceGuard::Outcome InstanceGuard::Take(const std::unique_ptr<LockFile>& lock, const char* what) {
    switch (lock->outcome()) {
    case LockFile::Outcome::Claimed:
        outcome_ = Outcome::Claimed;
        break;
    case LockFile::Outcome::Busy:
        outcome_ = Outcome::AlreadyExists;
        break;
    case LockFile::Outcome::NoHandle:
        outcome_ = Outcome::NoHandle;
        problem_ = QStringLiteral("%1: %2").arg(QLatin1String(what), lock->problem());
        break;
    }
    return outcome_;
}
