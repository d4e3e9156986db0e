#pragma once

#include "platform/LockFile.h"

#include <QString>

#include <memory>

#include <sys/stat.h>
#include <sys/types.h>

// Where the lock file may go when no folder is given, and whose it must be.
struct LockFolderSources {
    QString RuntimeFolder; // $XDG_RUNTIME_DIR
    QString SharedTemporaryFolder = QStringLiteral("/tmp");
    QString CacheFolder; // $XDG_CACHE_HOME, else $HOME/.cache
    uid_t User = 0;
};
LockFolderSources LockFolderSourcesFromEnvironment();

// A folder that only the user can reach: a directory of the user's own, mode 0700.
bool IsPrivateFolder(const struct stat& status, uid_t user);

// The runtime folder when it is usable; else "pelnavi-<uid>" in the shared temporary folder, made
// with mode 0700 and checked, as no other user may own or open it; else the cache folder. Empty
// when none will do, with the reason in *problem.
QString ChooseLockFolder(const LockFolderSources& sources, QString* problem);

// Keeps a second copy of the program from running under the same login. The lock is an
// exclusive flock on a file in a folder of the user's own; the descriptor stays open for the life
// of the guard, so the lock ends with the process however it ends. A portable copy also locks the
// file "." + name + ".lock" in its own folder, so that two copies of one folder never run together
// whatever their environment says (a login's runtime folder is only found through it).
class InstanceGuard final {
public:
    enum class Outcome { Claimed, AlreadyExists, NoHandle };

    // lockFolder empty: the folder that ChooseLockFolder picks from the environment. programFolder:
    // a portable copy's folder; empty for an installed program.
    explicit InstanceGuard(const QString& name, const QString& lockFolder = {},
                           const QString& programFolder = {});
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    Outcome outcome() const { return outcome_; }
    const QString& lockFilePath() const { return path_; }
    // NoHandle: why the lock could not be opened, in one line.
    const QString& problem() const { return problem_; }

private:
    // Claimed, or the outcome that ends the start, with the problem taken over.
    Outcome Take(const std::unique_ptr<LockFile>& lock, const char* what);

    std::unique_ptr<LockFile> loginLock_;
    std::unique_ptr<LockFile> folderLock_;
    Outcome outcome_ = Outcome::NoHandle;
    QString path_;
    QString problem_;
};
