#pragma once

#include "platform/FileDescriptor.h"

#include <QString>
#include <QStringList>

#include <cstddef>

// A wide string of the library (32-bit units) as UTF-16. Units below U+10000 are taken as they are,
// so surrogate pairs that the library hands out in separate units pair up again.
QString WideToQString(const wchar_t* text, size_t length);

// The item path as the package's maker wrote it. Names without the UTF-8 flag were written in the
// maker's ANSI code page (936); the library hands them out as UTF-8 with every stray byte escaped
// as U+EF00 + byte, so the original bytes are rebuilt and decoded as code page 936.
QString DecodeItemPath(const QString& reported, bool utf8Flag);

// True when the item's characteristics (space-separated words) hold "UTF8".
bool CharactsHaveUtf8Flag(const QString& characts);

// The folders and file name an item path leads to below the target folder; both "/" and "\" divide
// it, as on the system where packages are made. Empty when the path could reach outside the folder
// (absolute, or with a ".." component) or names nothing, so the item is skipped.
QStringList ContainedPathComponents(const QString& itemPath);

// Outcome of creating an item's file below an open folder.
struct ItemFileResult {
    enum Kind { Created, Skipped, Failed } kind;
    FileDescriptor file; // Created: the new file, truncated, open for reading and writing
    int error = 0;       // Failed: the system error number
};

// Creates the missing folders and then the file, one component at a time below rootFd, never
// following a symbolic link: a link met on the way, or standing where the file goes, makes the item
// Skipped and nothing is written. Any other failure is Failed with its cause.
ItemFileResult CreateItemFileBelow(int rootFd, const QStringList& components);
