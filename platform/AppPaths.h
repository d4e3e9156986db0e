#pragma once

#include <QString>

// Full path of the running executable, read from /proc/self/exe.
QString ExecutablePath();

// Everything up to and including the last "/" of a path, so the result ends with the delimiter;
// empty when the path holds no delimiter.
QString DirectoryWithDelimiter(const QString& path);

// Name of the data folder below the program's folder.
inline constexpr const char16_t* kDataFolderName = u"ZORQListTemp";

// The data folder of a program whose folder is `appPath` (ending in "/"): appPath + "ZORQListTemp/".
// It holds the downloaded package and the class folders with the listing files.
QString DataFolderPath(const QString& appPath);

// Creates the data folder (one level; `dataFolder` may end in "/"). An existing folder and a failure
// are both passed over: a missing folder shows later as an empty channel list or a failed save.
void CreateDataFolder(const QString& dataFolder);
