#pragma once

// How a library file becomes something that can be loaded safely: only a file that nobody but the
// user (or the system) can change is taken, and the copy start-up wrote is loaded from a sealed
// in-memory copy of the bytes that were checked.

#include "platform/FileDescriptor.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// What a library file must hold to be loaded: its size and the SHA-256 of its bytes (hexadecimal).
struct TLibraryImage {
    uint64_t Size = 0;
    QByteArray Sha256Hex;
};

// The library that the executable embeds, as the build measured it.
TLibraryImage EmbeddedLibraryImage();

// The file at path, open for reading, when it is a plain file of the user's or root's that neither
// its group nor anyone else may write; otherwise an invalid descriptor, with the reason in *problem.
// Judged on the open descriptor, so the file judged is the file read.
FileDescriptor OpenTrustedLibraryFile(const QString& path, QString* problem);

// A copy of the open file in memory, sealed against every change, when it holds exactly image;
// otherwise an invalid descriptor, with the reason in *problem. The copy is checked after it is
// sealed, so what is loaded from it is what was checked, whatever happens to the file meanwhile.
// name: what /proc/self/maps shows for it ("/memfd:<name>"), the path it was copied from.
FileDescriptor SealedLibraryCopy(int file, const TLibraryImage& image, const QString& name, QString* problem);
