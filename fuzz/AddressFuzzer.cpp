// Address splitting on arbitrary text: a first line is the previous request's address, the rest the
// address (or redirect target) resolved against it.
#include "platform/Exception.h"
#include "update/HttpAddress.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype newline = text.indexOf(u'\n');
    std::optional<HttpAddress> previous;
    QString target = text;
    if (newline >= 0) {
        try {
            previous = ResolveAddress(text.left(newline), std::nullopt);
        } catch (const Exception&) {
        }
        target = text.mid(newline + 1);
    }
    try {
        const HttpAddress address = ResolveAddress(target, previous);
        if (address.Host.isEmpty() || address.Port < 1 || address.Port > 65535)
            std::abort();
        const QByteArray requestTarget = address.RequestTarget();
        // Whatever the address held, the request line gets no blank, control or line break from it.
        for (char c : requestTarget)
            if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
                std::abort();
        static_cast<void>(address.HostHeader());
    } catch (const Exception&) {
    }
    return 0;
}
