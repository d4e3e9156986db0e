#include "platform/SystemMessage.h"

#include <cstring>

namespace {

struct FixedText {
    uint32_t code;
    const char* text;
};

// Texts of the common codes, worded as Windows words them.
constexpr FixedText kFixedTexts[] = {
    {0x00000001u, "Incorrect function."},
    {0x80004001u, "Not implemented"},
    {0x80004002u, "No such interface supported"},
    {0x80004003u, "Invalid pointer"},
    {0x80004004u, "Operation aborted"},
    {0x80004005u, "Unspecified error"},
    {0x8007000Eu, "Not enough storage is available to complete this operation."},
    {0x80070057u, "The parameter is incorrect."},
    {0x80040111u, "ClassFactory cannot supply requested class"},
};

} // namespace

QString TrimMessageText(QString text) {
    qsizetype end = text.size();
    while (end > 0 && (text[end - 1].unicode() <= 32 || text[end - 1] == u'.'))
        --end;
    text.truncate(end);
    return text;
}

QString ErrnoMessageText(int errorNumber) {
    char buffer[256];
    // GNU strerror_r returns the text, which need not be in the buffer.
    const char* text = ::strerror_r(errorNumber, buffer, sizeof buffer);
    return TrimMessageText(QString::fromLocal8Bit(text));
}

QString SystemMessageText(int32_t code) {
    const auto value = static_cast<uint32_t>(code);
    for (const FixedText& fixed : kFixedTexts)
        if (fixed.code == value)
            return TrimMessageText(QString::fromLatin1(fixed.text));
    const uint32_t facilityAndSeverity = value & 0xFFFF0000u;
    if (facilityAndSeverity == 0x80070000u || facilityAndSeverity == 0x88000000u)
        return ErrnoMessageText(static_cast<int>(value & 0xFFFFu));
    return {};
}
