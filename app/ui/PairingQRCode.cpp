#include "app/ui/PairingQRCode.h"

#include <QPainter>

#include <qrencode.h>

#include <algorithm>

#include <memory>

namespace Plovander {

QImage pairingQRImage(const QString& link) {
    const QByteArray message = link.toUtf8();
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(static_cast<int>(message.size()), reinterpret_cast<const unsigned char*>(message.constData()),
                          0, QR_ECLEVEL_M),
        &QRcode_free);
    if (!code) return {};
    constexpr int quietZone = 4;
    const int side = code->width + 2 * quietZone;
    QImage image(side, side, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            // The low bit of each module says whether it is dark.
            if (code->data[y * code->width + x] & 1) image.setPixel(x + quietZone, y + quietZone, qRgb(0, 0, 0));
        }
    }
    return image;
}

QImage fittedQRImage(const QImage& modules, int side) {
    const int scale = std::max(1, side / std::max(1, modules.width()));
    const int offset = (side - modules.width() * scale) / 2;
    QImage fitted(side, side, QImage::Format_RGB32);
    fitted.fill(Qt::white);
    QPainter painter(&fitted);
    painter.drawImage(QRect(offset, offset, modules.width() * scale, modules.height() * scale), modules);
    return fitted;
}

} // namespace Plovander
