#include "xmltv/FeedDecoder.h"

#include "platform/CodePage.h"

// GBK, and the 4-byte sequences of GB18030, which the code page turns into U+FFFD.
QString FeedDecoder::Decode(QByteArray piece, bool last) {
    piece.prepend(carry_);
    carry_.clear();
    qsizetype at = 0;
    while (at < piece.size()) {
        const auto byte = static_cast<unsigned char>(piece[at]);
        qsizetype length = 1;
        if (byte >= 0x81 && byte <= 0xFE) {
            length = 2;
            if (at + 1 < piece.size() && piece[at + 1] >= '0' && piece[at + 1] <= '9')
                length = 4;
        }
        if (at + length > piece.size())
            break;
        at += length;
    }
    if (!last) {
        carry_ = piece.sliced(at);
        piece.truncate(at);
    }
    return DecodeAnsi(piece);
}
