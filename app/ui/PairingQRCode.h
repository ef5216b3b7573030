#pragma once

#include <QImage>
#include <QString>

namespace Plovander {

// The QR code of a pairing link, error correction M, one pixel per module with a four-module
// quiet zone; a null image when it cannot be made. The view enlarges it without interpolation.
QImage pairingQRImage(const QString& link);
// `modules` (one pixel each) on a white square of exactly `side` pixels: each module a square of
// the largest whole number of pixels that fits, so that every module stays sharp, centred.
QImage fittedQRImage(const QImage& modules, int side);

} // namespace Plovander
