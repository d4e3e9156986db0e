#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

// The whole content of a file (a resource path works too); empty when it cannot be read.
inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes `bytes` as the whole file at `path`, making its folder first; false when it cannot.
inline bool WriteAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(path.left(path.lastIndexOf(u'/')));
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}
