#include "tests/archive/ArchiveTestSupport.h"

#include "archive/Unit_sevenzip.h"
#include "platform/Exception.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <gtest/gtest.h>

#include <climits>
#include <unistd.h>

LibraryWorkingFolder::LibraryWorkingFolder(bool writeLibrary) {
    char buffer[PATH_MAX];
    previous_ = ::getcwd(buffer, sizeof buffer) ? QByteArray(buffer) : QByteArray("/");
    EXPECT_TRUE(dir_.isValid());
    EXPECT_EQ(::chdir(QFile::encodeName(dir_.path()).constData()), 0);
    if (writeLibrary)
        ExtractResourceToFile(QStringLiteral("7z"), QStringLiteral("dll"), QStringLiteral("7z.dll"));
}

LibraryWorkingFolder::~LibraryWorkingFolder() {
    EXPECT_EQ(::chdir(previous_.constData()), 0);
}

QString LibraryWorkingFolder::Path(const QString& name) const {
    return name.isEmpty() ? dir_.path() : dir_.filePath(name);
}

QStringList OpenFileTargets() {
    QStringList targets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        targets += QFile::symLinkTarget(fds.filePath(fd));
    return targets;
}

bool IsMapped(const QString& fileName) {
    return ReadAll(QStringLiteral("/proc/self/maps")).contains(QFile::encodeName(fileName));
}

void WriteWholeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QStringList TreeBelow(const QString& folder) {
    QStringList entries;
    const QDir root(folder);
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        entries += root.relativeFilePath(info.filePath()) + (info.isDir() && !info.isSymLink() ? "/" : "");
    }
    entries.sort();
    return entries;
}

QString MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& error) {
        return error.Message();
    }
    return QStringLiteral("<no error>");
}
