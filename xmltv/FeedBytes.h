#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

class QIODevice;

// An XMLTV feed as bytes: the document itself, or the document compressed with gzip (the
// ".xml.gz" that feeds are usually served as), inflated piece by piece with zlib so that the whole
// document is never in memory at once.

// True when the first bytes of a file are the start of an XMLTV document: after an optional
// byte-order mark, "<?xml" or "<tv". For gzip (1F 8B) the same test runs on the start of the
// inflated data. `start` may be the first few kilobytes of a larger file; a gzip stream cut short
// here is judged on what inflates from it.
bool LooksLikeXmltv(QByteArrayView start);

// LooksLikeXmltv on the first bytes of the file at `path`; false when it cannot be read.
bool IsXmltvFile(const QString& path);

// Reads a feed in pieces, inflating gzip on the way. Throws Exception when the device cannot be
// read, the gzip data is damaged or ends before its end mark, or the feed grows beyond
// `maxFeedBytes` (counted after inflating).
class FeedBytes final {
public:
    FeedBytes(QIODevice& device, qint64 maxFeedBytes);
    ~FeedBytes();
    FeedBytes(const FeedBytes&) = delete;
    FeedBytes& operator=(const FeedBytes&) = delete;

    // The next piece of the (inflated) feed; empty at its end.
    QByteArray Next();
    bool Compressed() const;

private:
    struct Inflater;
    QByteArray ReadRaw();
    QByteArray ReadDevice();
    QByteArray Checked(QByteArray piece);

    QIODevice& device_;
    const qint64 maxFeedBytes_;
    qint64 delivered_ = 0;
    QByteArray pending_;
    std::unique_ptr<Inflater> inflater_;
};
