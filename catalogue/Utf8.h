#pragma once

#include <QString>

#include <optional>
#include <string>
#include <string_view>

// UTF-8 decoding with the well-formed byte sequences of the Unicode standard only: no overlong
// forms, no encoded surrogates, nothing above U+10FFFF, no truncated sequences.

// Empty optional when any byte sequence is ill-formed.
std::optional<QString> DecodeUtf8Strict(std::string_view bytes);

// Every byte that is not part of a well-formed sequence becomes the lone surrogate U+DC00 + byte,
// so that the bytes can be restored exactly by EncodeUtf8Escaped.
QString DecodeUtf8Escaped(std::string_view bytes);

// The inverse of DecodeUtf8Escaped. A lone surrogate U+DC80..U+DCFF becomes its byte again;
// any other lone surrogate, which DecodeUtf8Escaped never produces, becomes U+FFFD.
std::string EncodeUtf8Escaped(QStringView text);
