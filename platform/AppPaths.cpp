#include "platform/AppPaths.h"

#include <QFile>

#include <climits>
#include <unistd.h>

QString ExecutablePath() {
    char buffer[PATH_MAX + 1];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, PATH_MAX);
    if (length <= 0)
        return {};
    return QFile::decodeName(QByteArray(buffer, static_cast<int>(length)));
}

QString DirectoryWithDelimiter(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? QString() : path.left(slash + 1);
}
