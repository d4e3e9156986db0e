#include "xmltv/FeedBytes.h"

#include "platform/Exception.h"

#include <QFile>
#include <QIODevice>

#include <zlib.h>

namespace {

constexpr qsizetype kReadPiece = qsizetype{256} * 1024;
constexpr qsizetype kSniffBytes = qsizetype{64} * 1024;

bool IsGzip(QByteArrayView bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
           static_cast<unsigned char>(bytes[1]) == 0x8B;
}

// zlib's window bits for a gzip wrapper (and nothing else).
constexpr int kGzipWindowBits = 16 + MAX_WBITS;

// The document's first characters after a byte-order mark, as ASCII; UTF-16 is narrowed.
QByteArray AsciiStart(QByteArrayView bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return bytes.sliced(3).first(std::min<qsizetype>(bytes.size() - 3, 5)).toByteArray();
    const bool little = bytes.startsWith("\xFF\xFE");
    if (little || bytes.startsWith("\xFE\xFF")) {
        QByteArray narrowed;
        for (qsizetype i = 2; i + 1 < bytes.size() && narrowed.size() < 5; i += 2) {
            const char high = little ? bytes[i + 1] : bytes[i];
            const char low = little ? bytes[i] : bytes[i + 1];
            if (high != 0)
                break;
            narrowed.append(low);
        }
        return narrowed;
    }
    return bytes.first(std::min<qsizetype>(bytes.size(), 5)).toByteArray();
}

bool StartsLikeXmltv(QByteArrayView bytes) {
    const QByteArray start = AsciiStart(bytes);
    return start.startsWith("<?xml") || start.startsWith("<tv");
}

// As much of the start of a gzip stream as inflates from `bytes`.
QByteArray InflatedStart(QByteArrayView bytes) {
    z_stream stream{};
    if (inflateInit2(&stream, kGzipWindowBits) != Z_OK)
        return {};
    QByteArray out(64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    inflate(&stream, Z_SYNC_FLUSH);
    out.truncate(out.size() - static_cast<qsizetype>(stream.avail_out));
    inflateEnd(&stream);
    return out;
}

} // namespace

bool LooksLikeXmltv(QByteArrayView start) {
    return StartsLikeXmltv(IsGzip(start) ? QByteArrayView(InflatedStart(start)) : start);
}

bool IsXmltvFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return LooksLikeXmltv(file.read(kSniffBytes));
}

struct FeedBytes::Inflater {
    Inflater() {
        if (inflateInit2(&stream, kGzipWindowBits) != Z_OK)
            throw Exception(QStringLiteral("Cannot start inflating the feed"));
    }
    ~Inflater() { inflateEnd(&stream); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    z_stream stream{};
    QByteArray input; // owns what stream.next_in points into
    bool memberEnded = false;
};

FeedBytes::FeedBytes(QIODevice& device, qint64 maxFeedBytes) : device_(device), maxFeedBytes_(maxFeedBytes) {
    // Enough to see the gzip magic even from a device that hands out one byte at a time.
    while (pending_.size() < 2) {
        const QByteArray piece = ReadDevice();
        if (piece.isEmpty())
            break;
        pending_ += piece;
    }
    if (IsGzip(pending_))
        inflater_ = std::make_unique<Inflater>();
}

FeedBytes::~FeedBytes() = default;

bool FeedBytes::Compressed() const {
    return inflater_ != nullptr;
}

QByteArray FeedBytes::ReadRaw() {
    return pending_.isEmpty() ? ReadDevice() : std::exchange(pending_, {});
}

QByteArray FeedBytes::ReadDevice() {
    QByteArray piece(kReadPiece, Qt::Uninitialized);
    qint64 count = device_.read(piece.data(), piece.size());
    if (count == 0 && device_.isSequential() && device_.waitForReadyRead(-1))
        count = device_.read(piece.data(), piece.size());
    if (count < 0 && device_.atEnd())
        count = 0; // a sequential device that has closed
    if (count < 0)
        throw Exception(QStringLiteral("Cannot read the feed: %1").arg(device_.errorString()));
    piece.truncate(count);
    return piece;
}

QByteArray FeedBytes::Checked(QByteArray piece) {
    delivered_ += piece.size();
    if (delivered_ > maxFeedBytes_)
        throw Exception(QStringLiteral("The feed is larger than %1 bytes").arg(maxFeedBytes_));
    return piece;
}

QByteArray FeedBytes::Next() {
    if (!inflater_)
        return Checked(ReadRaw());
    Inflater& z = *inflater_;
    QByteArray out(kReadPiece, Qt::Uninitialized);
    for (;;) {
        if (z.stream.avail_in == 0) {
            z.input = ReadRaw();
            if (z.input.isEmpty()) {
                if (z.memberEnded)
                    return {};
                throw Exception(QStringLiteral("The compressed feed ends before its end mark"));
            }
            z.stream.next_in = reinterpret_cast<Bytef*>(z.input.data());
            z.stream.avail_in = static_cast<uInt>(z.input.size());
        }
        if (z.memberEnded) {
            // Another gzip member follows the one that ended (as "cat a.gz b.gz" makes).
            inflateReset(&z.stream);
            z.memberEnded = false;
        }
        z.stream.next_out = reinterpret_cast<Bytef*>(out.data());
        z.stream.avail_out = static_cast<uInt>(out.size());
        const int result = inflate(&z.stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END)
            z.memberEnded = true;
        else if (result != Z_OK && result != Z_BUF_ERROR)
            throw Exception(QStringLiteral("The compressed feed is damaged"));
        const qsizetype produced = out.size() - static_cast<qsizetype>(z.stream.avail_out);
        if (produced > 0) {
            out.truncate(produced);
            return Checked(std::move(out));
        }
    }
}
