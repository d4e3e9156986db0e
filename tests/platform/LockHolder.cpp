#include "platform/InstanceGuard.h"

#include <QString>

#include <cstdio>
#include <unistd.h>

// Usage: platform_lock_holder <lock folder> <name>
int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    InstanceGuard guard(QString::fromUtf8(argv[2]), QString::fromUtf8(argv[1]));
    switch (guard.outcome()) {
    case InstanceGuard::Outcome::Claimed:
        std::puts("Claimed");
        break;
    case InstanceGuard::Outcome::AlreadyExists:
        std::puts("AlreadyExists");
        break;
    case InstanceGuard::Outcome::NoHandle:
        std::puts("NoHandle");
        break;
    }
    std::fflush(stdout);
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}
