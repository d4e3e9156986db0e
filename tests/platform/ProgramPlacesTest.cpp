#include "platform/ProgramPlaces.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/ScopedEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

QString Folder(const QTemporaryDir& root, const char* relative) {
    return root.path() + u'/' + QString::fromUtf8(relative);
}

mode_t ModeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(ProgramPlaces, AFolderMadeReadOnlyIsNotTheUsersAlsoForRoot) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const struct {
        const char* folder;
        mode_t mode; // 0: the folder is not made
        bool writable;
    } cases[] = {
        {"own", 0755, true},
        {"read-only", 0555, false},
        {"group-writable-only", 0575, false}, // the owner's bits decide for the owner
        {"missing", 0, false},
    };
    for (const auto& c : cases) {
        const QString path = Folder(root, c.folder);
        if (c.mode != 0) {
            ASSERT_TRUE(QDir().mkpath(path));
            ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), c.mode), 0);
        }
        EXPECT_EQ(FolderWritableByUser(path), c.writable) << c.folder;
        EXPECT_EQ(DecideProgramMode(path + u'/', false),
                  c.writable ? ProgramMode::Portable : ProgramMode::Installed)
            << c.folder;
        // A build for installation is installed wherever it lies.
        EXPECT_EQ(DecideProgramMode(path + u'/', true), ProgramMode::Installed) << c.folder;
        ::chmod(QFile::encodeName(path).constData(), 0755);
    }
}

TEST(ProgramPlaces, UserFoldersFollowTheBaseDirectoryRules) {
    const struct {
        std::optional<QByteArray> value;
        const char* data; // expected, "~" standing for the home folder
        const char* cache;
        const char* config;
    } cases[] = {
        {std::nullopt, "~/.local/share", "~/.cache", "~/.config"},
        {QByteArray(""), "~/.local/share", "~/.cache", "~/.config"},
        {QByteArray("relative/data"), "~/.local/share", "~/.cache",
         "~/.config"}, // relative paths are ignored
        {QByteArray("/srv/user/x/"), "/srv/user/x", "/srv/user/x", "/srv/user/x"},
        {QByteArray("/"), "", "", ""},
    };
    const ScopedVariable home("HOME", QByteArray("/home/someone"));
    for (const auto& c : cases) {
        const ScopedVariable data("XDG_DATA_HOME", c.value);
        const ScopedVariable cache("XDG_CACHE_HOME", c.value);
        const ScopedVariable config("XDG_CONFIG_HOME", c.value);
        const auto expand = [](const char* text) {
            return QString::fromUtf8(text).replace(QStringLiteral("~"), QStringLiteral("/home/someone"));
        };
        EXPECT_EQ(UserDataHome(), expand(c.data)) << c.value.value_or("(unset)").constData();
        EXPECT_EQ(UserCacheHome(), expand(c.cache)) << c.value.value_or("(unset)").constData();
        EXPECT_EQ(UserConfigHome(), expand(c.config)) << c.value.value_or("(unset)").constData();
    }
}

TEST(ProgramPlaces, EachWayKeepsItsFilesInItsOwnPlaces) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString systemLibrary = Folder(root, "system/7z.so");
    ASSERT_TRUE(QDir().mkpath(Folder(root, "system")));
    QFile library(systemLibrary);
    ASSERT_TRUE(library.open(QIODevice::WriteOnly));
    library.close();
    const ScopedVariable data("XDG_DATA_HOME", Folder(root, "data").toUtf8());
    const ScopedVariable cache("XDG_CACHE_HOME", Folder(root, "cache").toUtf8());
    const ScopedVariable config("XDG_CONFIG_HOME", Folder(root, "config").toUtf8());
    const QString app = QStringLiteral("/opt/pelnavi/bin/");

    const ProgramPlaces portable = PlacesFor(ProgramMode::Portable, app, systemLibrary);
    EXPECT_EQ(portable.DataFolder, app + "ZORQListTemp/");
    EXPECT_EQ(portable.DataParentFolder, app);
    EXPECT_EQ(portable.PackageCheckFolder, QString()) << "the working directory";
    EXPECT_EQ(portable.LibraryCopy, "7z.dll");
    EXPECT_EQ(portable.LibraryToLoad, "7z.dll");
    EXPECT_TRUE(portable.DesktopShortcut);
    EXPECT_EQ(portable.SettingsFile, app + "Pelnavi.ini");

    const ProgramPlaces installed = PlacesFor(ProgramMode::Installed, app, systemLibrary);
    EXPECT_EQ(installed.DataFolder, Folder(root, "data/Pelnavi/ZORQListTemp/"));
    EXPECT_EQ(installed.DataParentFolder, Folder(root, "data/Pelnavi/"));
    EXPECT_EQ(installed.PackageCheckFolder, Folder(root, "data/Pelnavi/"));
    EXPECT_EQ(installed.LibraryCopy, QString()) << "the system's library is used as it is";
    EXPECT_EQ(installed.LibraryToLoad, systemLibrary);
    EXPECT_FALSE(installed.DesktopShortcut);
    EXPECT_EQ(installed.SettingsFile, Folder(root, "config/Pelnavi/Pelnavi.conf"));

    // Without the system's library, the embedded copy goes to the user's cache folder.
    for (const QString& missing : {Folder(root, "system/none.so"), Folder(root, "system")}) {
        const ProgramPlaces copied = PlacesFor(ProgramMode::Installed, app, missing);
        EXPECT_EQ(copied.LibraryCopy, Folder(root, "cache/Pelnavi/7z.dll")) << qPrintable(missing);
        EXPECT_EQ(copied.LibraryToLoad, copied.LibraryCopy) << qPrintable(missing);
    }
}

TEST(ProgramPlaces, AnInstalledProgramMakesItsFoldersPrivateAPortableOneOnlyItsDataFolder) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const ScopedVariable data("XDG_DATA_HOME", Folder(root, "home/.local/share").toUtf8());
    const ScopedVariable cache("XDG_CACHE_HOME", Folder(root, "home/.cache").toUtf8());
    const ProgramPlaces installed =
        PlacesFor(ProgramMode::Installed, QStringLiteral("/usr/bin/"), Folder(root, "no-system-library"));
    PrepareDataFolder(installed);
    PrepareLibraryCopyFolder(installed);
    for (const char* folder :
         {"home", "home/.local", "home/.local/share", "home/.local/share/Pelnavi",
          "home/.local/share/Pelnavi/ZORQListTemp", "home/.cache", "home/.cache/Pelnavi"})
        EXPECT_EQ(ModeOf(Folder(root, folder)), 0700u) << folder;
    EXPECT_FALSE(QFileInfo::exists(Folder(root, "home/.cache/Pelnavi/7z.dll"))) << "only the folder";

    // Portable: one level beside the program, as before; a missing program folder is not made.
    PrepareDataFolder(PlacesFor(ProgramMode::Portable, Folder(root, "app/")));
    EXPECT_FALSE(QFileInfo::exists(Folder(root, "app")));
    ASSERT_TRUE(QDir().mkpath(Folder(root, "app")));
    const ProgramPlaces portable = PlacesFor(ProgramMode::Portable, Folder(root, "app/"));
    PrepareDataFolder(portable);
    PrepareLibraryCopyFolder(portable);
    EXPECT_TRUE(QFileInfo(Folder(root, "app/ZORQListTemp")).isDir());
}

} // namespace
