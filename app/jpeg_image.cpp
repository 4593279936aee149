#include "app/jpeg_image.h"

#include "store/app_error.h"

#include <csetjmp>
#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace {

struct ErrorManager
{
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// libjpeg's own handler calls exit(); jump back instead.
void errorExit(j_common_ptr info)
{
    auto *err = reinterpret_cast<ErrorManager *>(info->err);
    (*info->err->format_message)(info, err->message);
    std::longjmp(err->jump, 1);
}

void outputMessage(j_common_ptr) {}

} // namespace

QImage decodeJpeg(const QByteArray &data)
{
    jpeg_decompress_struct info{};
    ErrorManager err{};
    info.err = jpeg_std_error(&err.base);
    err.base.error_exit = errorExit;
    err.base.output_message = outputMessage;
    QImage image;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&info);
        throw AppError(QStringLiteral("Cannot read the picture: %1").arg(QString::fromLocal8Bit(err.message)));
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image = QImage(int(info.output_width), int(info.output_height), QImage::Format_RGB888);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return image;
}
