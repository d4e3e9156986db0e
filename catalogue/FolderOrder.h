#pragma once

#include <QString>
#include <QStringView>

#include <string_view>

// The order in which a folder lists its entries on the file system the program's users know: by
// name, compared after upper-casing, so "01.txt" comes before "02.txt" and "anhui.txt" before
// "B.txt". Readdir's own order on Linux is a hash order and would shuffle the channel list.
//
// The name is decoded to UTF-16 as the catalogue keeps it (bytes that are not UTF-8 become
// U+DC80 + byte), each code unit is mapped through its simple upper-case mapping alone, and the
// results are compared code unit by code unit as unsigned numbers. Names equal after upper-casing
// fall back to their raw bytes, so the order is total.

// The upper-cased UTF-16 form that the comparison uses.
QString FolderOrderKey(std::string_view fileName);
// The same for a name already decoded that way.
QString FolderOrderKeyOfDecoded(QString decodedName);

// True when the entry named `a` comes before the one named `b` in a folder listing.
bool FolderOrderLess(std::string_view a, std::string_view b);
// The same with the keys already made, for sorting many names.
bool FolderOrderLess(QStringView keyA, std::string_view a, QStringView keyB, std::string_view b);
