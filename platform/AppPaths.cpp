#include "platform/AppPaths.h"

#include <QFile>

#include <climits>
#include <sys/stat.h>
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

QString DataFolderPath(const QString& appPath) {
    return appPath + QString::fromUtf16(kDataFolderName) + u'/';
}

void CreateDataFolder(const QString& dataFolder) {
    ::mkdir(QFile::encodeName(dataFolder).constData(), 0777);
}
