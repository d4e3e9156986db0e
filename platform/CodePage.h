#pragma once

#include <QByteArray>
#include <QString>

#include <string_view>

// Code page 936 (GBK), the ANSI code page of a Chinese Windows system. A byte sequence that is not
// valid GBK becomes U+FFFD and decoding goes on, so decoding never fails.
QString DecodeAnsi(std::string_view bytes);
inline QString DecodeAnsi(const QByteArray& bytes) {
    return DecodeAnsi(std::string_view(bytes.constData(), bytes.size()));
}
