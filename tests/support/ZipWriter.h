#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

// Builds small Zip packages for tests, byte by byte, so that a test can show exactly the entry that
// matters: names as raw bytes with or without the UTF-8 flag, directory entries, stored or deflated
// data, ZipCrypto encryption, and a damaged checksum or data byte.
class ZipWriter final {
public:
    enum class Method { Stored, Deflate };
    struct Options {
        Method method = Method::Deflate;
        bool utf8Flag = false;
        QByteArray password; // not empty: encrypted with ZipCrypto
    };

    // Each returns the entry's index. Names are written exactly as given.
    int AddFile(const QByteArray& rawName, const QByteArray& data, const Options& options);
    int AddFile(const QByteArray& rawName, const QByteArray& data) {
        return AddFile(rawName, data, Options{});
    }
    // The name in UTF-8; one outside ASCII gets the UTF-8 flag.
    int AddUtf8File(const QString& name, const QByteArray& data, Method method = Method::Deflate);
    // A "/" is appended when the name lacks it.
    int AddDirectory(const QByteArray& rawName, bool utf8Flag = false);

    // The headers record a checksum that does not match the data.
    void CorruptCrc(int index);
    // One byte of the entry's stored data is flipped (for a stored entry: its first content byte).
    void CorruptData(int index);

    QByteArray Bytes() const;
    // Returns false when the file cannot be written.
    bool WriteTo(const QString& path) const;

    static uint32_t Crc32(const QByteArray& data);
    // Raw deflate of data (zlib framing removed).
    static QByteArray Deflate(const QByteArray& data, int level = 6);

private:
    struct Entry {
        QByteArray name;
        uint16_t flags = 0;
        uint16_t method = 0;
        uint32_t crc = 0;
        uint32_t size = 0;
        QByteArray payload; // what follows the local header: compressed data, encrypted if asked
        bool directory = false;
    };
    std::vector<Entry> entries_;
};
