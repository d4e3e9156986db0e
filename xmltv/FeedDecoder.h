#pragma once

#include "xmltv/FeedEncoding.h"

#include <QByteArray>
#include <QString>

#include <iconv.h>

// Decodes a feed in a Chinese code page piece by piece, as it arrives: a character split between
// two pieces is held back until the rest of it arrives. A byte that starts no character becomes
// U+FFFD and decoding goes on behind it.
class FeedDecoder final {
public:
    // Throws Exception when the system has no decoder for the code page.
    explicit FeedDecoder(FeedCodePage codePage);
    ~FeedDecoder();
    FeedDecoder(const FeedDecoder&) = delete;
    FeedDecoder& operator=(const FeedDecoder&) = delete;

    // `last`: no piece follows, so whatever is held back is decoded now.
    QString Decode(QByteArray piece, bool last);

private:
    iconv_t converter_;
    QByteArray carry_;
};
