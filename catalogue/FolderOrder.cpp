#include "catalogue/FolderOrder.h"

#include "catalogue/FileNames.h"

#include <string_view>

namespace {

constexpr char16_t AsciiUpper(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - (u'a' - u'A')) : unit;
}

} // namespace

QString FolderOrderKey(std::string_view fileName) {
    return FolderOrderKeyOfDecoded(DecodeFileName(fileName));
}

QString FolderOrderKeyOfDecoded(QString decodedName) {
    // One code unit at a time: a surrogate maps to itself, as in the file system's upcase table.
    // The text is copied only when a unit changes; ASCII, most of every name, needs no table.
    const qsizetype size = decodedName.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = decodedName.constData()[i].unicode();
        const char16_t upper = unit < 0x80 ? AsciiUpper(unit) : static_cast<char16_t>(QChar::toUpper(unit));
        if (upper != unit)
            decodedName.data()[i] = QChar(upper);
    }
    return decodedName;
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
