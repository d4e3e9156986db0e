#pragma once

#include <QString>

// The one case rule of the program: A to Z lowered, every other byte or code unit kept. File-name
// endings, channel names and command-line switches are compared this way, the same in every locale.
template <typename Unit> constexpr Unit AsciiLower(Unit unit) {
    return unit >= Unit('A') && unit <= Unit('Z') ? static_cast<Unit>(unit + (Unit('a') - Unit('A'))) : unit;
}

inline void LowerAsciiInPlace(QString& text) {
    char16_t* const units = reinterpret_cast<char16_t*>(text.data());
    for (qsizetype i = 0; i < text.size(); ++i)
        units[i] = AsciiLower(units[i]);
}

inline QString AsciiLowered(QString text) {
    LowerAsciiInPlace(text);
    return text;
}
