#pragma once

#include <QFile>
#include <QString>

#include <fcntl.h>
#include <unistd.h>

// Puts a file another program wrote on the disk, as the client's own save does before its rename,
// so that the download benchmarks compare like with like.
inline bool FdatasyncFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::fdatasync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}
