#pragma once

#include <QString>

// Full path of the running executable, read from /proc/self/exe.
QString ExecutablePath();

// Everything up to and including the last "/" of a path, so the result ends with the delimiter;
// empty when the path holds no delimiter.
QString DirectoryWithDelimiter(const QString& path);

// Name of the data folder below the program's folder.
inline constexpr const char16_t* kDataFolderName = u"ZORQListTemp";
