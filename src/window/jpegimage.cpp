#include "window/jpegimage.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace {

// libjpeg's default error_exit prints and calls exit(); ours jumps back into DecodeJpeg.
struct TJpegErrorManager {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
    std::longjmp(manager->Jump, 1);
}

// A warning (corrupt or truncated data that libjpeg would paper over) counts as an error;
// trace messages (level 1 and up) are dropped.
void JpegEmitMessage(j_common_ptr cinfo, int msgLevel) {
    if (msgLevel < 0) {
        JpegErrorExit(cinfo);
    }
}

void JpegOutputMessage(j_common_ptr) {}

// The part that may be left by longjmp. It holds no object with a destructor, so jumping out
// of it skips nothing; `image` belongs to the caller. Returns false on any libjpeg error.
bool ReadJpeg(jpeg_decompress_struct* cinfo, TJpegErrorManager* manager,
              const unsigned char* data, unsigned long size, QImage* image) {
    if (setjmp(manager->Jump) != 0) {
        return false;
    }
    jpeg_mem_src(cinfo, data, size);
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) {
        return false;
    }
    const bool grey = cinfo->jpeg_color_space == JCS_GRAYSCALE;
    cinfo->out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(cinfo);

    const int components = grey ? 1 : 3;
    if (cinfo->output_components != components || cinfo->output_width == 0 ||
        cinfo->output_height == 0) {
        return false;
    }
    *image = QImage(static_cast<int>(cinfo->output_width), static_cast<int>(cinfo->output_height),
                    grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (image->isNull()) {
        return false;
    }
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = image->scanLine(static_cast<int>(cinfo->output_scanline));
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& data) {
    if (data.isEmpty()) {
        return {};
    }
    jpeg_decompress_struct cinfo{};
    TJpegErrorManager manager{};
    cinfo.err = jpeg_std_error(&manager.Pub);
    manager.Pub.error_exit = JpegErrorExit;
    manager.Pub.emit_message = JpegEmitMessage;
    manager.Pub.output_message = JpegOutputMessage;
    jpeg_create_decompress(&cinfo);

    QImage image;
    const bool ok =
        ReadJpeg(&cinfo, &manager, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()), &image);
    jpeg_destroy_decompress(&cinfo);
    if (!ok) {
        return {};
    }
    return image;
}
