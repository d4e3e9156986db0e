// Listing decoding on arbitrary file bytes: every encoding the first bytes may choose, and the
// line splitting after it.
#include "catalogue/ListingFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = DecodeListingText(bytes);
    if (text.contains(QChar(0)))
        std::abort(); // a NUL ends the text
    const QStringList lines = SplitListingLines(text);
    for (const QString& line : lines)
        if (line.contains(u'\n') || line.contains(u'\r'))
            std::abort();
    if (DecodeListing(bytes) != lines)
        std::abort();
    return 0;
}
