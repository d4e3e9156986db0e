#include "catalogue/FileNames.h"

#include "catalogue/Utf8.h"

QString DecodeFileName(std::string_view bytes) {
    return DecodeUtf8Escaped(bytes);
}

QByteArray EncodeFileName(QStringView name) {
    const std::string bytes = EncodeUtf8Escaped(name);
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}
