#include "platform/InstanceGuard.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QString DefaultLockPath(const QString& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] != '\0')
        return QFile::decodeName(runtime) + u'/' + name + QStringLiteral(".lock");
    return QStringLiteral("/tmp/") + name + u'-' + QString::number(::getuid()) + QStringLiteral(".lock");
}

} // namespace

InstanceGuard::InstanceGuard(const QString& name, const QString& lockFolder)
    : path_(lockFolder.isEmpty() ? DefaultLockPath(name)
                                 : lockFolder + u'/' + name + QStringLiteral(".lock")) {
    // Never through a link: in the shared /tmp someone else could plant one to make us create or
    // open a file of their choosing.
    fd_.Reset(::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd_.valid()) {
        outcome_ = Outcome::NoHandle;
        return;
    }
    int rc;
    do {
        rc = ::flock(fd_.get(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        outcome_ = Outcome::Claimed;
        return;
    }
    outcome_ = errno == EWOULDBLOCK ? Outcome::AlreadyExists : Outcome::NoHandle;
    fd_.Reset();
}
