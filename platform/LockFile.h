#pragma once

#include "platform/FileDescriptor.h"

#include <QString>

#include <sys/types.h>

// An exclusive flock on a file, taken without waiting. The file is made when it is missing and is
// never opened through a link; a read-only open suffices for the lock, so a file another user made
// (in a folder both may write) still serves. The descriptor stays open while the object lives, so
// the lock ends with the process however it ends.
class LockFile final {
public:
    enum class Outcome { Claimed, Busy, NoHandle };
    // Keep: the file stays when the lock ends. Remove: it goes then, so that nothing is left behind;
    // a lock taken on a file that went meanwhile is taken again on the new one.
    enum class Leftover { Keep, Remove };

    LockFile(const QString& path, Leftover leftover, mode_t mode);
    ~LockFile();
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    Outcome outcome() const { return outcome_; }
    const QString& path() const { return path_; }
    // NoHandle: why the file could not be opened or locked, in one line.
    const QString& problem() const { return problem_; }

private:
    void Claim(mode_t mode);

    QString path_;
    Leftover leftover_;
    FileDescriptor fd_;
    Outcome outcome_ = Outcome::NoHandle;
    QString problem_;
};

// Held while an update or an import writes into the data folder, so that two running copies of the
// program (of two logins, or of one portable folder started with another environment) never write
// there at once. Holds nest within one process: a step that runs at another's pump point shares its
// hold. The lock file ".pelnavi.lock" in the data folder goes when the last hold ends.
class DataFolderLock final {
public:
    explicit DataFolderLock(const QString& dataFolder);
    ~DataFolderLock();
    DataFolderLock(const DataFolderLock&) = delete;
    DataFolderLock& operator=(const DataFolderLock&) = delete;

    bool Held() const { return held_; }
    // Another process holds the lock.
    bool Busy() const { return busy_; }
    // Neither held nor busy: why the lock could not be taken.
    const QString& Problem() const { return problem_; }

    static constexpr const char16_t* kFileName = u".pelnavi.lock";

private:
    QString path_;
    bool held_ = false;
    bool busy_ = false;
    QString problem_;
};
