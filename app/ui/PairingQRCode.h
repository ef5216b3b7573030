#pragma once

#include <QImage>
#include <QString>

namespace Plovander {

// The QR code of a pairing link, error correction M, one pixel per module with a four-module
// quiet zone; a null image when it cannot be made. The view enlarges it without interpolation.
QImage pairingQRImage(const QString& link);

} // namespace Plovander
