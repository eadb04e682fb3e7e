// Decoding of the logo picture with libjpeg's own API.
#pragma once

#include <QByteArray>
#include <QImage>

// Decodes a JPEG held in memory into an RGB888 image (Grayscale8 for a one-component
// picture). Damaged or unsupported data, including data that libjpeg would only warn about
// (a picture cut short), gives a null image; the program is never ended by the decoder.
QImage DecodeJpeg(const QByteArray& data);
