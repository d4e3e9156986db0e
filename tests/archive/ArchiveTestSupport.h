#pragma once

#include "tests/support/Files.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// A temporary folder that is the working directory while the object lives, holding "7z.dll"
// written from the executable's resources, as start-up writes it.
class LibraryWorkingFolder final {
public:
    explicit LibraryWorkingFolder(bool writeLibrary = true);
    ~LibraryWorkingFolder();
    LibraryWorkingFolder(const LibraryWorkingFolder&) = delete;
    LibraryWorkingFolder& operator=(const LibraryWorkingFolder&) = delete;

    // Full path of a name inside the folder (no trailing "/" for the folder itself).
    QString Path(const QString& name = {}) const;

private:
    QTemporaryDir dir_;
    QByteArray previous_;
};

// Targets of this process's open file descriptors, and the files it has mapped.
QStringList OpenFileTargets();
bool IsMapped(const QString& fileName);

void WriteWholeFile(const QString& path, const QByteArray& bytes);

// Every file below a folder, as paths relative to it, sorted; folders end with "/".
QStringList TreeBelow(const QString& folder);

// The message of the error that the action raises, or "<no error>".
QString MessageOf(const std::function<void()>& action);
