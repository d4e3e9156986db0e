#pragma once

#include <QString>

#include <cstdint>

// Saves a desktop entry "name.desktop" that starts target with the target's own folder as working
// directory. folderCode 0 or more: the user's desktop folder, folder is not used; negative: folder
// (one trailing "/" removed). An empty folder with code -1 means the desktop. An empty name becomes
// the target's file name without its extension. An existing entry of that name is replaced.
// True when the entry has been saved; false for a missing target or folder and for a failed write,
// which then leaves nothing behind.
bool CreateShortcut(const QString& target, const QString& name, const QString& folder, int32_t folderCode);
