#include "platform/CodePage.h"

#include <cerrno>
#include <iconv.h>

namespace {

class Converter final {
public:
    Converter() {
        handle_ = ::iconv_open("UTF-16LE", "CP936");
        if (handle_ == reinterpret_cast<iconv_t>(-1))
            handle_ = ::iconv_open("UTF-16LE", "GBK");
    }
    ~Converter() {
        if (valid())
            ::iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return handle_; }

private:
    iconv_t handle_;
};

constexpr char16_t kReplacement = u'\uFFFD';

} // namespace

QString DecodeAnsi(std::string_view bytes) {
    // Every input byte yields at most one UTF-16 unit (ASCII 1:1, a GBK pair 2:1, a bad byte 1:1).
    QString result(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    char16_t* const start = reinterpret_cast<char16_t*>(result.data());
    char16_t* out = start;
    Converter converter;
    if (!converter.valid()) {
        for (unsigned char c : bytes)
            *out++ = c < 0x80 ? c : kReplacement;
        result.truncate(out - start);
        return result;
    }
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outBytes = reinterpret_cast<char*>(out);
        size_t outLeft = (bytes.size() - static_cast<size_t>(out - start)) * sizeof(char16_t);
        const size_t rc = ::iconv(converter.get(), &in, &inLeft, &outBytes, &outLeft);
        out = reinterpret_cast<char16_t*>(outBytes);
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno == EILSEQ || errno == EINVAL) {
            // One bad byte becomes one replacement character; go on right behind it.
            *out++ = kReplacement;
            ++in;
            --inLeft;
            ::iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
        } else {
            break; // E2BIG cannot happen with the size above
        }
    }
    result.truncate(out - start);
    return result;
}
