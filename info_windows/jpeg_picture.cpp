#include "jpeg_picture.h"

// jpeglib.h needs size_t and FILE declared before it.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back to the decoding's starting point.
struct ErrorExit {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void LeaveDecoding(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorExit*>(info->err)->jump, 1);
}

// Warnings (level -1) are what libjpeg says when it patches a broken picture
// up, a truncated one with grey below the cut for instance. Such a picture
// is not shown at all. Trace messages are ignored. Nothing is printed: with
// both exits replaced, libjpeg has no path left that writes a message.
void OnMessage(j_common_ptr info, int level)
{
    if (level < 0) LeaveDecoding(info);
}

// The decorative picture is small; a header that claims more is broken, and
// the picture it claims is not worth gigabytes of memory.
constexpr JDIMENSION kLargestSide = 4096;

struct Decoding {
    jpeg_decompress_struct info{};
    ErrorExit error{};
    QImage picture;
};

// All the state lives in *decoding, outside this frame, and no object with
// a destructor is made after setjmp, so the jump back leaves nothing behind
// but what jpeg_destroy_decompress frees.
bool Decode(Decoding& decoding, const unsigned char* data, std::size_t size)
{
    jpeg_decompress_struct& info = decoding.info;
    info.err = jpeg_std_error(&decoding.error.manager);
    decoding.error.manager.error_exit = &LeaveDecoding;
    decoding.error.manager.emit_message = &OnMessage;
    if (setjmp(decoding.error.jump) != 0) return false;

    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    if (info.image_width > kLargestSide || info.image_height > kLargestSide) return false;
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    // The rows below are written three bytes a pixel.
    if (info.output_components != 3) return false;
    decoding.picture = QImage(static_cast<int>(info.output_width),
                              static_cast<int>(info.output_height), QImage::Format_RGB888);
    if (decoding.picture.isNull()) return false;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = decoding.picture.scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

}  // namespace

QImage DecodeJpeg(const unsigned char* data, std::size_t size)
{
    if (data == nullptr || size == 0) return {};
    Decoding decoding;
    const bool decoded = Decode(decoding, data, size);
    jpeg_destroy_decompress(&decoding.info);
    return decoded ? decoding.picture : QImage();
}
