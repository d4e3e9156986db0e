#pragma once

#include <QByteArray>

#include <gtest/gtest.h>

#include <cstdio>

#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

// Files whose names are raw bytes (not valid UTF-8) cannot be made or removed through Qt's file
// name codec; these helpers go through POSIX calls instead.

inline void WriteRawFile(const QByteArray& path, const QByteArray& bytes) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())), bytes.size());
    ::close(fd);
}

// Removes everything below `folder` (not the folder itself), without following links.
inline void RemoveRawTreeBelow(const QByteArray& folder) {
    const auto remove = [](const char* path, const struct stat*, int, struct FTW* position) {
        return position->level == 0 ? 0 : ::remove(path);
    };
    ::nftw(folder.constData(), remove, 16, FTW_DEPTH | FTW_PHYS);
}
