#pragma once

#include <QByteArray>
#include <QString>

#include <iconv.h>

// `text` in a code page of iconv's naming.
inline QByteArray EncodeIn(const char* codePage, const QString& text) {
    QByteArray utf8 = text.toUtf8();
    QByteArray out(utf8.size() * 2 + 4, '\0');
    iconv_t converter = ::iconv_open(codePage, "UTF-8");
    char* in = utf8.data();
    size_t inLeft = static_cast<size_t>(utf8.size());
    char* to = out.data();
    size_t outLeft = static_cast<size_t>(out.size());
    ::iconv(converter, &in, &inLeft, &to, &outLeft);
    ::iconv_close(converter);
    out.truncate(out.size() - static_cast<qsizetype>(outLeft));
    return out;
}

// Text in code page 936 (GBK), the bytes that listings and feeds from Chinese Windows machines hold.
inline QByteArray EncodeGbk(const QString& text) {
    return EncodeIn("GBK", text);
}
