#include "platform/ProgramPlaces.h"

#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Whether the folder's permission bits let this process write, the way they apply to anyone
// without the power to override them.
bool PermissionBitsGrantWrite(const struct stat& info) {
    if (info.st_uid == ::geteuid())
        return (info.st_mode & S_IWUSR) != 0;
    std::vector<gid_t> groups(static_cast<size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<size_t>(std::max(count, 0)));
    groups.push_back(::getegid());
    for (const gid_t group : groups)
        if (group == info.st_gid)
            return (info.st_mode & S_IWGRP) != 0;
    return (info.st_mode & S_IWOTH) != 0;
}

QString XdgHome(const char* variable, const QString& fallbackBelowHome) {
    QString value = qEnvironmentVariable(variable);
    // Relative paths are invalid there and are ignored.
    if (!QDir::isAbsolutePath(value))
        return QDir::homePath() + fallbackBelowHome;
    while (value.endsWith(u'/'))
        value.chop(1);
    return value;
}

bool IsFile(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

void MakePrivatePath(const QString& path) {
    for (qsizetype slash = path.indexOf(u'/', 1); slash >= 0; slash = path.indexOf(u'/', slash + 1))
        ::mkdir(QFile::encodeName(path.left(slash)).constData(), 0700);
    ::mkdir(QFile::encodeName(path).constData(), 0700);
}

bool FolderWritableByUser(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    if (path.isEmpty() || ::access(path.constData(), W_OK) != 0)
        return false;
    if (::geteuid() != 0)
        return true; // access() has applied the permission bits and any access control list
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && PermissionBitsGrantWrite(info);
}

bool BuiltForInstallation() {
#ifdef PELNAVI_INSTALLED
    return true;
#else
    return false;
#endif
}

ProgramMode DecideProgramMode(const QString& appPath, bool builtForInstallation) {
    return builtForInstallation || !FolderWritableByUser(appPath) ? ProgramMode::Installed
                                                                  : ProgramMode::Portable;
}

QString UserDataHome() {
    return XdgHome("XDG_DATA_HOME", QStringLiteral("/.local/share"));
}

QString UserCacheHome() {
    return XdgHome("XDG_CACHE_HOME", QStringLiteral("/.cache"));
}

QString UserConfigHome() {
    return XdgHome("XDG_CONFIG_HOME", QStringLiteral("/.config"));
}

ProgramPlaces PlacesFor(ProgramMode mode, const QString& appPath, const QString& systemLibrary) {
    ProgramPlaces places;
    places.Mode = mode;
    if (mode == ProgramMode::Portable) {
        places.DataParentFolder = appPath;
        places.DataFolder = DataFolderPath(appPath);
        places.LibraryCopy = QString::fromUtf16(kLibraryCopyName);
        places.LibraryToLoad = places.LibraryCopy;
        places.SettingsFile = appPath + QString::fromUtf16(kPortableSettingsName);
        return places;
    }
    const QString userFolder = u'/' + QString::fromUtf16(kUserFolderName) + u'/';
    places.DataParentFolder = UserDataHome() + userFolder;
    places.DataFolder = DataFolderPath(places.DataParentFolder);
    places.PackageCheckFolder = places.DataParentFolder;
    if (IsFile(systemLibrary)) {
        places.LibraryToLoad = systemLibrary;
    } else {
        places.LibraryCopy = UserCacheHome() + userFolder + QString::fromUtf16(kLibraryCopyName);
        places.LibraryToLoad = places.LibraryCopy;
    }
    places.DesktopShortcut = false;
    places.SettingsFile = UserConfigHome() + userFolder + QString::fromUtf16(kInstalledSettingsName);
    return places;
}

void PrepareDataFolder(const ProgramPlaces& places) {
    if (places.Mode == ProgramMode::Installed)
        MakePrivatePath(places.DataFolder);
    else
        CreateDataFolder(places.DataFolder);
}

void PrepareLibraryCopyFolder(const ProgramPlaces& places) {
    const QString folder = DirectoryWithDelimiter(places.LibraryCopy);
    if (!folder.isEmpty())
        MakePrivatePath(folder);
}
