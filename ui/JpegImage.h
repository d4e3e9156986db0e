#pragma once

#include <QByteArray>
#include <QImage>

// Decodes a JPEG picture with libjpeg into an RGB image; a null image when the data is not one.
QImage DecodeJpeg(const QByteArray& data);
