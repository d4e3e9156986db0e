#pragma once

#include "update/HttpResponse.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The 14-digit local time stamp of a package request: yyyymmddhhmmss, 24-hour clock.
QString PackageTimeStamp(const QDateTime& localTime);

// The package address followed by "?" and the time stamp; the address itself is taken unchanged.
QString PackageRequestAddress(const QString& packageAddress, const QDateTime& localTime);

// True when a file of that name exists: a directory does not count, a link counts when its target
// can be reached.
bool PackageFileExists(const QString& fileName);

// A body is a whole package when it is not empty and as long as its response announced.
bool IsWholePackage(const QByteArray& body, const ResponseHead& response);

// Writes the whole package to folder + name. The bytes go to a temporary file in the same folder that
// replaces the package only when all of them are on disk, so a failed save never destroys the package
// an earlier update left. A name that would leave the folder, and a link or anything but a plain file
// standing at the name, are refused. Throws Exception on failure.
void SavePackage(const QByteArray& package, const QString& folder, const QString& fileName);
