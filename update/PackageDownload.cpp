#include "update/PackageDownload.h"

#include "platform/Exception.h"

#include <QFile>
#include <QSaveFile>

#include <sys/stat.h>

QString PackageTimeStamp(const QDateTime& localTime) {
    return localTime.toString(QStringLiteral("yyyy-MM-dd-HH-mm-ss")).remove(u'-');
}

QString PackageRequestAddress(const QString& packageAddress, const QDateTime& localTime) {
    return packageAddress + u'?' + PackageTimeStamp(localTime);
}

bool PackageFileExists(const QString& fileName) {
    struct stat info {};
    return !fileName.isEmpty() && ::stat(QFile::encodeName(fileName).constData(), &info) == 0 &&
           !S_ISDIR(info.st_mode);
}

void SavePackage(const QByteArray& package, const QString& folder, const QString& fileName) {
    if (fileName.isEmpty() || fileName.contains(u'/') || fileName == u"." || fileName == u"..")
        throw Exception(QStringLiteral("Cannot create file \"%1\"").arg(folder + fileName));
    QSaveFile file(folder + fileName);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw Exception(
            QStringLiteral("Cannot create file \"%1\". %2").arg(file.fileName(), file.errorString()));
    if (file.write(package) != package.size() || !file.commit())
        throw Exception(QStringLiteral("Error writing \"%1\". %2").arg(file.fileName(), file.errorString()));
}
