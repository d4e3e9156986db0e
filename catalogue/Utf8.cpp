#include "catalogue/Utf8.h"

#include <cstdint>
#include <string>

namespace {

constexpr char16_t kEscapeBase = 0xDC00;
constexpr char16_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the well-formed sequence at the front of `bytes` and its code point; 0 when the
// front is ill-formed. Follows table 3-7 of the Unicode standard.
int DecodeSequence(const unsigned char* bytes, size_t available, char32_t& codePoint) {
    const unsigned char lead = bytes[0];
    int length = 0;
    unsigned char secondLow = 0x80, secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        if (lead == 0xE0)
            secondLow = 0xA0; // no overlong forms
        else if (lead == 0xED)
            secondHigh = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        if (lead == 0xF0)
            secondLow = 0x90;
        else if (lead == 0xF4)
            secondHigh = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (available < static_cast<size_t>(length))
        return 0;
    if (bytes[1] < secondLow || bytes[1] > secondHigh)
        return 0;
    for (int i = 1; i < length; ++i) {
        if (!IsContinuation(bytes[i]))
            return 0;
        codePoint = (codePoint << 6) | (bytes[i] & 0x3F);
    }
    return length;
}

char16_t* AppendCodePoint(char16_t* out, char32_t codePoint) {
    if (codePoint < 0x10000) {
        *out++ = static_cast<char16_t>(codePoint);
    } else {
        codePoint -= 0x10000;
        *out++ = static_cast<char16_t>(0xD800 + (codePoint >> 10));
        *out++ = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    }
    return out;
}

// One pass over the bytes; `onIllFormed` decides what an ill-formed byte becomes and returns
// false to give up.
template <typename OnIllFormed>
std::optional<QString> Decode(std::string_view text, OnIllFormed onIllFormed) {
    // Every byte yields at most one UTF-16 unit (a 4-byte sequence yields two).
    QString result(static_cast<qsizetype>(text.size()), Qt::Uninitialized);
    char16_t* const start = reinterpret_cast<char16_t*>(result.data());
    char16_t* out = start;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    size_t i = 0;
    while (i < size) {
        if (bytes[i] < 0x80) {
            *out++ = bytes[i++];
            continue;
        }
        char32_t codePoint = 0;
        const int length = DecodeSequence(bytes + i, size - i, codePoint);
        if (length > 0) {
            out = AppendCodePoint(out, codePoint);
            i += static_cast<size_t>(length);
        } else {
            if (!onIllFormed(out, bytes[i]))
                return std::nullopt;
            ++i;
        }
    }
    result.truncate(out - start);
    return result;
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace

std::optional<QString> DecodeUtf8Strict(std::string_view bytes) {
    return Decode(bytes, [](char16_t*&, unsigned char) { return false; });
}

QString DecodeUtf8Escaped(std::string_view bytes) {
    return *Decode(bytes, [](char16_t*& out, unsigned char byte) {
        *out++ = static_cast<char16_t>(kEscapeBase + byte);
        return true;
    });
}

std::string EncodeUtf8Escaped(QStringView text) {
    std::string out;
    out.reserve(static_cast<size_t>(text.size()) * 3);
    const char16_t* units = text.utf16();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = units[i];
        if (IsHighSurrogate(unit) && i + 1 < size && IsLowSurrogate(units[i + 1])) {
            const char32_t codePoint = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            AppendUtf8(out, codePoint);
            ++i;
        } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
            out += static_cast<char>(unit - kEscapeBase);
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}
