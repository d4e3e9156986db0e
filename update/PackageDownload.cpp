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

bool IsWholePackage(const QByteArray& body, const ResponseHead& response) {
    const BodyFraming framing = FramingOf(response.Headers);
    return !body.isEmpty() && (framing.kind != BodyFraming::Kind::Length || body.size() >= framing.length);
}

namespace {

// Only a plain file, or nothing, may stand where the package goes: the save replaces what it finds
// there, and a link would carry the bytes out of the data folder.
bool MayReplace(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return true;
    return S_ISREG(info.st_mode);
}

} // namespace

void SavePackage(const QByteArray& package, const QString& folder, const QString& fileName) {
    if (fileName.isEmpty() || fileName.contains(u'/') || fileName == u"." || fileName == u".." ||
        !MayReplace(folder + fileName))
        throw Exception(QStringLiteral("Cannot create file \"%1\"").arg(folder + fileName));
    QSaveFile file(folder + fileName);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        throw Exception(
            QStringLiteral("Cannot create file \"%1\". %2").arg(file.fileName(), file.errorString()));
    if (file.write(package) != package.size() || !file.commit())
        throw Exception(QStringLiteral("Error writing \"%1\". %2").arg(file.fileName(), file.errorString()));
}
