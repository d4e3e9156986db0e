#include "platform/InstanceGuard.h"
#include "platform/LockFile.h"

#include <QString>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const char* OutcomeName(InstanceGuard::Outcome outcome) {
    switch (outcome) {
    case InstanceGuard::Outcome::Claimed:
        return "Claimed";
    case InstanceGuard::Outcome::AlreadyExists:
        return "AlreadyExists";
    case InstanceGuard::Outcome::NoHandle:
        return "NoHandle";
    }
    return "";
}

const char* OutcomeName(const DataFolderLock& lock) {
    return lock.Held() ? "Claimed" : lock.Busy() ? "Busy" : "NoHandle";
}

void HoldUntilInputCloses(const char* outcome) {
    std::puts(outcome);
    std::fflush(stdout);
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

// Usage: platform_lock_holder <lock folder> <name> [<program folder>]
//        platform_lock_holder --data <data folder>
int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--data") == 0) {
        const DataFolderLock lock(QString::fromUtf8(argv[2]));
        HoldUntilInputCloses(OutcomeName(lock));
        return 0;
    }
    if (argc != 3 && argc != 4)
        return 2;
    const InstanceGuard guard(QString::fromUtf8(argv[2]), QString::fromUtf8(argv[1]),
                              argc == 4 ? QString::fromUtf8(argv[3]) : QString());
    HoldUntilInputCloses(OutcomeName(guard.outcome()));
    return 0;
}
