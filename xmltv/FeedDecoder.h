#pragma once

#include <QByteArray>
#include <QString>

// Decodes a feed in a Chinese code page piece by piece, as it arrives: a character split between
// two pieces is held back until the rest of it arrives. Bytes that are no character become U+FFFD.
class FeedDecoder final {
public:
    // `last`: no piece follows, so whatever is held back is decoded now.
    QString Decode(QByteArray piece, bool last);

private:
    QByteArray carry_;
};
