#include "xmltv/FeedDecoder.h"

#include "platform/Exception.h"

#include <cerrno>
#include <cstring>

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// GBK and GB2312 go through code page 936, as the listings of the schedule packages do. GB18030
// needs its own decoder: its four-byte sequences (Tibetan, Uyghur, Mongolian names) and its "€"
// (A2E3) are no characters of code page 936.
iconv_t OpenConverter(FeedCodePage codePage) {
    if (codePage == FeedCodePage::Gb18030)
        return ::iconv_open("UTF-16LE", "GB18030");
    const iconv_t converter = ::iconv_open("UTF-16LE", "CP936");
    return converter != kNoConverter ? converter : ::iconv_open("UTF-16LE", "GBK");
}

} // namespace

FeedDecoder::FeedDecoder(FeedCodePage codePage) : converter_(OpenConverter(codePage)) {
    if (converter_ == kNoConverter)
        throw Exception(QStringLiteral("The system cannot decode the feed's code page"));
}

FeedDecoder::~FeedDecoder() {
    ::iconv_close(converter_);
}

QString FeedDecoder::Decode(QByteArray piece, bool last) {
    piece.prepend(carry_);
    carry_.clear();
    // Every byte gives at most one UTF-16 unit: ASCII one, a pair one, four bytes at most two.
    QString text(piece.size(), Qt::Uninitialized);
    char* in = piece.data();
    size_t inLeft = static_cast<size_t>(piece.size());
    char* out = reinterpret_cast<char*>(text.data());
    size_t outLeft = static_cast<size_t>(text.size()) * sizeof(char16_t);
    while (inLeft > 0) {
        if (::iconv(converter_, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1))
            break;
        if (errno == EINVAL && !last) { // a character cut at the end of the piece
            carry_ = QByteArray(in, static_cast<qsizetype>(inLeft));
            break;
        }
        if (errno != EILSEQ && errno != EINVAL)
            throw Exception(QStringLiteral("The feed cannot be decoded"));
        const char16_t replacement = u'\uFFFD';
        std::memcpy(out, &replacement, sizeof replacement);
        out += sizeof replacement;
        outLeft -= sizeof replacement;
        ++in;
        --inLeft;
        ::iconv(converter_, nullptr, nullptr, nullptr, nullptr);
    }
    text.truncate(static_cast<qsizetype>((out - reinterpret_cast<char*>(text.data())) / sizeof(char16_t)));
    return text;
}
