#pragma once

#include <QByteArray>
#include <QString>

#include <string_view>

// File names on Linux are bytes and need not be valid UTF-8. The catalogue keeps such a name in a
// QString that can be turned back into the very same bytes, so a path found by the walk always
// opens the same file later. Bytes that are not part of well-formed UTF-8 are held as the lone
// surrogates U+DC80..U+DCFF (one per byte); Qt's own file-name codec would replace them by U+FFFD
// and lose the file.
QString DecodeFileName(std::string_view bytes);
QByteArray EncodeFileName(QStringView name);
