#pragma once

#include <QByteArray>
#include <QImage>

// Decodes a JPEG image with libjpeg. Throws AppError for data that is not a readable JPEG.
QImage decodeJpeg(const QByteArray &data);
