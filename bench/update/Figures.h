#pragma once

#include <QFile>
#include <QString>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

// What the download benchmarks share: their clock and how a figure is taken from rounds.
namespace figures {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Puts a file another program wrote on the disk, as the client's own save does before its rename.
inline bool FdatasyncFile(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::fdatasync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

} // namespace figures
