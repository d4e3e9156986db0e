// The XMLTV feed reader on arbitrary bytes, plain or gzip: the detection, the whole feed read, and
// the listing files made from it.
#include "platform/Exception.h"
#include "xmltv/FeedBytes.h"
#include "xmltv/FeedReader.h"
#include "xmltv/ListingText.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    static_cast<void>(LooksLikeXmltv(bytes));
    QBuffer device(&bytes);
    if (!device.open(QIODevice::ReadOnly))
        std::abort();
    try {
        // A small bound keeps a fuzzed gzip bomb from making each run slow.
        const Feed feed = ReadXmltvFeed(device, 4 << 20);
        for (const FeedChannel& channel : feed.channels) {
            const QByteArray listing = ListingFileBytes(channel.name, channel.programmes);
            if (!listing.startsWith("\xEF\xBB\xBF"))
                std::abort(); // listing files are written as UTF-8 with the mark
        }
    } catch (const Exception&) {
    }
    return 0;
}
