#pragma once

#include "archive/Unit_sevenzip.h"
#include "platform/LockFile.h"

#include <QString>

// The package steps that the update of the program's own package and the update of several sources
// share.

// What the download makes of a body before it replaces the package.
enum class PackageCheck { Usable, CutShort, Unusable };

// Usable: an XMLTV feed that reads whole, or an archive that the library the extraction uses opens
// (checked as the extraction checks it) and finds whole. The library also opens a Zip cut short, with the
// items before the cut: that is no package to replace a good one with.
PackageCheck CheckPackage(const QString& path);

// Opens an archive with the library the extraction uses and unpacks it into the data folder, the
// window answering meanwhile. The reference keeps the package open and the library loaded until the
// caller lets it go. Throws on any failure.
I7zInArchivePtr UnpackArchive(const QString& package);

// False, with the failure reported, when another running copy holds the data folder. A lock that
// cannot be made at all stops nothing: the writes then fail on their own, with their own lines.
bool ProceedUnder(const DataFolderLock& lock);
