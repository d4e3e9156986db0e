#include "catalogue/FolderOrder.h"

#include "catalogue/FileNames.h"

#include <string_view>

QString FolderOrderKey(std::string_view fileName) {
    QString key = DecodeFileName(fileName);
    // One code unit at a time: a surrogate maps to itself, as in the file system's upcase table.
    for (QChar& unit : key)
        unit = unit.toUpper();
    return key;
}

bool FolderOrderLess(QStringView keyA, std::string_view a, QStringView keyB, std::string_view b) {
    // By code unit as an unsigned number, not by code point: a character beyond U+FFFF (a surrogate
    // pair) sorts before U+E000..U+FFFF.
    const int byKey = std::u16string_view(keyA.utf16(), static_cast<size_t>(keyA.size()))
                          .compare(std::u16string_view(keyB.utf16(), static_cast<size_t>(keyB.size())));
    return byKey != 0 ? byKey < 0 : a < b;
}

bool FolderOrderLess(std::string_view a, std::string_view b) {
    return FolderOrderLess(FolderOrderKey(a), a, FolderOrderKey(b), b);
}
