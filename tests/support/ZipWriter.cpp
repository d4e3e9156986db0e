#include "tests/support/ZipWriter.h"

#include <QFile>

#include <array>

namespace {

constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagUtf8 = 0x0800;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kVersion = 20;
// 2011-09-16 12:00:00 in DOS form.
constexpr uint16_t kDosTime = 12 << 11;
constexpr uint16_t kDosDate = ((2011 - 1980) << 9) | (9 << 5) | 16;

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

uint32_t CrcByte(uint32_t crc, uint8_t byte) {
    return CrcTable()[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

void Put16(QByteArray& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void Put32(QByteArray& out, uint32_t v) {
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

// The traditional PKWARE stream cipher.
class ZipCrypto final {
public:
    explicit ZipCrypto(const QByteArray& password) {
        for (char c : password)
            Update(static_cast<uint8_t>(c));
    }
    QByteArray Encrypt(const QByteArray& plain) {
        QByteArray out(plain.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < plain.size(); ++i) {
            const uint32_t t = (keys_[2] | 2) & 0xFFFFu;
            const auto mask = static_cast<uint8_t>((t * (t ^ 1)) >> 8);
            const auto c = static_cast<uint8_t>(plain[i]);
            Update(c);
            out[i] = static_cast<char>(c ^ mask);
        }
        return out;
    }

private:
    void Update(uint8_t c) {
        keys_[0] = CrcByte(keys_[0], c);
        keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
        keys_[2] = CrcByte(keys_[2], static_cast<uint8_t>(keys_[1] >> 24));
    }
    uint32_t keys_[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};

} // namespace

uint32_t ZipWriter::Crc32(const QByteArray& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (char c : data)
        crc = CrcByte(crc, static_cast<uint8_t>(c));
    return crc ^ 0xFFFFFFFFu;
}

QByteArray ZipWriter::Deflate(const QByteArray& data, int level) {
    // qCompress: 4-byte length, 2-byte zlib header, raw deflate, 4-byte Adler-32.
    const QByteArray framed = qCompress(data, level);
    return framed.mid(6, framed.size() - 10);
}

int ZipWriter::AddFile(const QByteArray& rawName, const QByteArray& data, const Options& options) {
    Entry entry;
    entry.name = rawName;
    entry.flags = options.utf8Flag ? kFlagUtf8 : 0;
    entry.method = options.method == Method::Deflate ? kMethodDeflate : kMethodStored;
    entry.crc = Crc32(data);
    entry.size = static_cast<uint32_t>(data.size());
    entry.payload = options.method == Method::Deflate ? Deflate(data) : data;
    if (!options.password.isEmpty()) {
        entry.flags |= kFlagEncrypted;
        // Twelve header bytes, the last one the checksum's high byte, which checks the password.
        QByteArray header(11, '\x5A');
        header += static_cast<char>(entry.crc >> 24);
        entry.payload = ZipCrypto(options.password).Encrypt(header + entry.payload);
    }
    entries_.push_back(entry);
    return static_cast<int>(entries_.size() - 1);
}

int ZipWriter::AddUtf8File(const QString& name, const QByteArray& data, Method method) {
    const QByteArray utf8 = name.toUtf8();
    bool ascii = true;
    for (char c : utf8)
        ascii = ascii && static_cast<uint8_t>(c) < 0x80;
    return AddFile(utf8, data, Options{method, !ascii, {}});
}

int ZipWriter::AddDirectory(const QByteArray& rawName, bool utf8Flag) {
    Entry entry;
    entry.name = rawName.endsWith('/') ? rawName : rawName + '/';
    entry.flags = utf8Flag ? kFlagUtf8 : 0;
    entry.crc = Crc32({});
    entry.directory = true;
    entries_.push_back(entry);
    return static_cast<int>(entries_.size() - 1);
}

void ZipWriter::CorruptCrc(int index) {
    entries_.at(static_cast<size_t>(index)).crc ^= 0x00010001u;
}

void ZipWriter::CorruptData(int index) {
    Entry& entry = entries_.at(static_cast<size_t>(index));
    if (!entry.payload.isEmpty())
        entry.payload[0] = static_cast<char>(entry.payload[0] ^ 0x55);
}

QByteArray ZipWriter::Bytes() const {
    QByteArray out;
    QByteArray central;
    for (const Entry& e : entries_) {
        const auto offset = static_cast<uint32_t>(out.size());
        const auto packed = static_cast<uint32_t>(e.payload.size());
        Put32(out, 0x04034B50u);
        Put16(out, kVersion);
        Put16(out, e.flags);
        Put16(out, e.method);
        Put16(out, kDosTime);
        Put16(out, kDosDate);
        Put32(out, e.crc);
        Put32(out, packed);
        Put32(out, e.size);
        Put16(out, static_cast<uint16_t>(e.name.size()));
        Put16(out, 0);
        out += e.name;
        out += e.payload;

        Put32(central, 0x02014B50u);
        Put16(central, kVersion); // made by: FAT host, as Windows tools write
        Put16(central, kVersion);
        Put16(central, e.flags);
        Put16(central, e.method);
        Put16(central, kDosTime);
        Put16(central, kDosDate);
        Put32(central, e.crc);
        Put32(central, packed);
        Put32(central, e.size);
        Put16(central, static_cast<uint16_t>(e.name.size()));
        Put16(central, 0); // extra
        Put16(central, 0); // comment
        Put16(central, 0); // disk
        Put16(central, 0); // internal attributes
        Put32(central, e.directory ? 0x10u : 0x20u);
        Put32(central, offset);
        central += e.name;
    }
    const auto centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    Put32(out, 0x06054B50u);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint16_t>(entries_.size()));
    Put16(out, static_cast<uint16_t>(entries_.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, centralOffset);
    Put16(out, 0);
    return out;
}

bool ZipWriter::WriteTo(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = Bytes();
    return file.write(bytes) == bytes.size() && file.flush();
}
