#pragma once

#include "platform/FileDescriptor.h"

#include <QByteArray>
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

// Where an item's data goes: first a temporary file beside its target, which only Commit puts in
// place, so an item that fails leaves whatever file was there before. Discarded when it goes.
class ItemFileTarget final {
public:
    ItemFileTarget() = default;
    ItemFileTarget(FileDescriptor folder, QByteArray temporaryName, QByteArray finalName);
    ~ItemFileTarget() { Discard(); }
    ItemFileTarget(ItemFileTarget&&) noexcept = default;
    ItemFileTarget& operator=(ItemFileTarget&& other) noexcept;
    ItemFileTarget(const ItemFileTarget&) = delete;
    ItemFileTarget& operator=(const ItemFileTarget&) = delete;

    bool Pending() const { return !temporaryName_.isEmpty(); }
    // Renames the temporary file over the target: 0, or the system error number (the temporary file
    // is then removed).
    int Commit();
    // Removes the temporary file.
    void Discard();

private:
    FileDescriptor folder_;
    QByteArray temporaryName_;
    QByteArray finalName_;
};

// Outcome of creating an item's file below an open folder.
struct ItemFileResult {
    enum Kind { Created, Skipped, Failed } kind;
    FileDescriptor file; // Created: the temporary file, empty, open for reading and writing
    int error = 0;       // Failed: the system error number
    ItemFileTarget target;
};

// Creates the missing folders and then the temporary file, one component at a time below rootFd,
// never following a symbolic link. Skipped, with nothing written, when the item cannot have its
// name there: a link met on the way or standing at the target, anything but a plain file at the
// target, a file where a folder is needed, a name too long for the file system. Any other failure
// is Failed with its cause.
ItemFileResult CreateItemFileBelow(int rootFd, const QStringList& components);

// Creates a new empty file named name + random letters + suffix in the folder, never through a link;
// name is set to the whole name. The descriptor (open for reading and writing), or -1 with errno.
int CreateTemporaryFileAt(int folderFd, QByteArray& name, const QByteArray& suffix);

// True for the errors that mean "this name cannot be made here", which skip the one item.
bool IsNameConflict(int error);
