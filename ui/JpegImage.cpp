#include "ui/JpegImage.h"

#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

namespace {

// Everything the decoder changes lives here, on the heap, and is reached through a pointer that
// does not change after setjmp: locals changed between setjmp and longjmp would hold unspecified
// values after the jump, and a half-built image could not even be destroyed safely.
struct Decoding {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf escape{};
    QImage image;
};

[[noreturn]] void LeaveOnError(j_common_ptr info) {
    std::longjmp(static_cast<Decoding*>(info->client_data)->escape, 1);
}

void IgnoreMessage(j_common_ptr) {}

} // namespace

QImage DecodeJpeg(const QByteArray& data) {
    const auto decoding = std::make_unique<Decoding>();
    jpeg_decompress_struct& info = decoding->info;
    info.err = jpeg_std_error(&decoding->errors);
    info.client_data = decoding.get(); // kept by the create step
    decoding->errors.error_exit = LeaveOnError;
    decoding->errors.output_message = IgnoreMessage;
    if (setjmp(decoding->escape) != 0) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    decoding->image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                             QImage::Format_RGB888);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = decoding->image.scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return std::move(decoding->image);
}
