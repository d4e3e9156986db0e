#pragma once

#include <QString>

// How the program lives on this machine. Portable: a copy in a folder of the user's keeps its data
// beside itself and writes the 7-Zip library into the working directory. Installed: the program's
// folder belongs to the system, so what it writes goes to the user's XDG folders instead.
enum class ProgramMode { Portable, Installed };

// Where the program keeps what it writes, decided once at start.
struct ProgramPlaces {
    ProgramMode Mode = ProgramMode::Portable;
    // The data folder, ending in "/": the package and the class folders with the listings.
    QString DataFolder;
    // The data folder's parent, ending in "/": files that belong beside the data folder.
    QString DataParentFolder;
    // A file of the package's name in this folder stops a download; empty: the working directory.
    QString PackageCheckFolder;
    // Where start-up writes the embedded 7-Zip library; empty: nothing is written.
    QString LibraryCopy;
    // The 7-Zip library that the extraction loads (a name without "/" lies in the working directory).
    QString LibraryToLoad;
    // Whether a plain start puts the shortcut on the desktop (an installed program has its menu entry).
    bool DesktopShortcut = true;
    // The settings file (the schedule sources, automatic updates): beside the program, or in the
    // user's configuration folder.
    QString SettingsFile;
};

// The application id of the menu entry, the icon and the metainfo (set by the build).
inline constexpr const char* kApplicationId = PELNAVI_APP_ID;

// The system's 7-Zip library (Debian package p7zip-full), used by an installed program.
inline constexpr const char* kSystemArchiveLibrary = "/usr/lib/p7zip/7z.so";
// The folder below the user's data and cache folders that an installed program uses.
inline constexpr const char16_t* kUserFolderName = u"Pelnavi";
// The file name of the library copy that start-up writes from the program's resources.
inline constexpr const char16_t* kLibraryCopyName = u"7z.dll";
// The settings file's name beside a portable program, and in the user's configuration folder.
inline constexpr const char16_t* kPortableSettingsName = u"Pelnavi.ini";
inline constexpr const char16_t* kInstalledSettingsName = u"Pelnavi.conf";

// Whether the user may create files in the folder: its permissions grant it (root's power to write
// anywhere does not count, so a folder made read-only reads as the system's) and it does not lie on
// a read-only file system.
bool FolderWritableByUser(const QString& folder);

// Installed when the build was made for installation or the program's folder (appPath, ending in "/")
// is not the user's to write; portable otherwise.
ProgramMode DecideProgramMode(const QString& appPath, bool builtForInstallation);
bool BuiltForInstallation();

// The user's data and cache folders by the XDG base-directory rules: the variable when it holds an
// absolute path, else the default below the home folder. No trailing "/".
QString UserDataHome();
QString UserCacheHome();
QString UserConfigHome();

// The places of each way. An installed program loads systemLibrary when that file exists, and
// otherwise writes its embedded copy into the user's cache folder and loads that.
ProgramPlaces PlacesFor(ProgramMode mode, const QString& appPath,
                        const QString& systemLibrary = QString::fromUtf8(kSystemArchiveLibrary));

// Creates the data folder. Portable: one level, beside the program. Installed: also the missing
// folders above it, private to the user. A failure is passed over: it shows later as an empty
// channel list or a failed save.
void PrepareDataFolder(const ProgramPlaces& places);

// Makes every missing folder of path, each one private to the user; existing ones are left as
// they are.
void MakePrivatePath(const QString& path);

// Creates the folder that will hold the library copy, when that is not the working directory.
void PrepareLibraryCopyFolder(const ProgramPlaces& places);
