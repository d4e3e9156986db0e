#pragma once

#include "platform/FileDescriptor.h"

#include <QString>

// Keeps a second copy of the program from running under the same login. The lock is an
// exclusive flock on a file in the user's runtime folder; the descriptor stays open for the life
// of the guard, so the lock ends with the process however it ends.
class InstanceGuard final {
public:
    enum class Outcome { Claimed, AlreadyExists, NoHandle };

    // lockFolder empty: $XDG_RUNTIME_DIR, or /tmp with the user id in the file name.
    explicit InstanceGuard(const QString& name, const QString& lockFolder = {});
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    Outcome outcome() const { return outcome_; }
    const QString& lockFilePath() const { return path_; }

private:
    FileDescriptor fd_;
    Outcome outcome_ = Outcome::NoHandle;
    QString path_;
};
