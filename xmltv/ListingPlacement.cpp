#include "xmltv/ListingPlacement.h"

#include "platform/Exception.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

const QString kTemporarySuffix = QStringLiteral(".xmltv-part");

QString ClassFolderPath(const QString& dataFolder, const QString& classFolder) {
    QString path = QDir(dataFolder).filePath(classFolder);
    const QFileInfo info(path);
    // A link would lead the listings out of the data folder.
    if (info.isSymLink() || (info.exists() && !info.isDir()))
        throw Exception(
            QStringLiteral("The class folder \"%1\" is not a folder of the data folder").arg(path));
    if (!info.exists() && !QDir().mkdir(path))
        throw Exception(QStringLiteral("Cannot make the class folder \"%1\"").arg(path));
    return path;
}

void WriteNewFile(const QString& path, const QByteArray& bytes) {
    QFile::remove(path); // a leftover of an earlier import; never followed if it is a link
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(bytes) != bytes.size() ||
        !file.flush())
        throw Exception(QStringLiteral("Cannot write \"%1\": %2").arg(path, file.errorString()));
    file.close();
}

// "name.txt" → "name(2).txt" for the second channel that the map sends to the same file.
QString NumberedFileName(const QString& fileName, int number) {
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const qsizetype stem = dot > 0 ? dot : fileName.size();
    return fileName.first(stem) + u'(' + QString::number(number) + u')' + fileName.sliced(stem);
}

} // namespace

ListingPlacement::ListingPlacement(QString dataFolder) : dataFolder_(std::move(dataFolder)) {}

ListingPlacement::~ListingPlacement() {
    for (const QString& path : temporaries_)
        QFile::remove(path);
}

ImportedListing ListingPlacement::Stage(ChannelPlace place, const QByteArray& bytes) {
    const QString folder = ClassFolderPath(dataFolder_, place.classFolder);
    const QString wanted = place.fileName;
    for (int number = 2; taken_.contains(folder + u'/' + place.fileName); ++number)
        place.fileName = NumberedFileName(wanted, number);
    const QString path = folder + u'/' + place.fileName;
    taken_.insert(path);
    temporaries_.append(path + kTemporarySuffix);
    WriteNewFile(path + kTemporarySuffix, bytes);
    finalPaths_.append(path);
    return {place.classFolder, place.fileName};
}

void ListingPlacement::Commit() {
    for (const QString& path : finalPaths_) {
        if (std::rename(QFile::encodeName(path + kTemporarySuffix).constData(),
                        QFile::encodeName(path).constData()) != 0)
            throw Exception(QStringLiteral("Cannot put the listing \"%1\" in place").arg(path));
    }
    temporaries_.clear();
}
