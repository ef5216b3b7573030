#include "app/ui/PairingQRCode.h"
#include "tests/app/ui/PopoverFixture.h"

#include <zbar.h>

namespace Testing {
namespace {

// What a scanner reads from `image`.
std::vector<std::string> scan(const QImage& image) {
    const QImage shown = image.convertToFormat(QImage::Format_Grayscale8);
    std::string pixels;
    for (int y = 0; y < shown.height(); ++y) {
        pixels.append(reinterpret_cast<const char*>(shown.constScanLine(y)), static_cast<std::size_t>(shown.width()));
    }
    zbar::ImageScanner scanner;
    scanner.set_config(zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_ENABLE, 1);
    zbar::Image frame(static_cast<unsigned>(shown.width()), static_cast<unsigned>(shown.height()), "Y800",
                      pixels.data(), pixels.size());
    scanner.scan(frame);
    std::vector<std::string> found;
    for (auto symbol = frame.symbol_begin(); symbol != frame.symbol_end(); ++symbol)
        found.push_back(symbol->get_data());
    return found;
}

TEST_F(PopoverTest, TheShownQRCodeReadsBackAsThePairingLink) {
    startSharing();
    const QPixmap shown = find<QLabel>("pairingQR")->pixmap();
    EXPECT_EQ(shown.deviceIndependentSize(), QSizeF(132, 132));
    EXPECT_EQ(scan(shown.toImage()), std::vector<std::string>{*session->pairingLink()});
}

// Links of any length fill exactly 132 pixels, each module a square of whole pixels, and still scan.
TEST(PairingQRCode, FitsExactlyTheSideWithWholePixelModules) {
    for (const int length : {8, 40, 80, 140}) {
        const QString link = "plovander://pair?c=AB3D7KQ2&s=" + QString(length, 'x');
        const QImage modules = Plovander::pairingQRImage(link);
        const QImage fitted = Plovander::fittedQRImage(modules, 132);
        ASSERT_EQ(fitted.size(), QSize(132, 132)) << length;
        const int scale = 132 / modules.width();
        const int offset = (132 - modules.width() * scale) / 2;
        // Colours change only on the grid of whole modules.
        for (int y = 0; y < 132; ++y) {
            for (int x = 1; x < 132; ++x) {
                if (fitted.pixel(x, y) != fitted.pixel(x - 1, y)) {
                    EXPECT_EQ((x - offset) % scale, 0) << length;
                }
            }
        }
        EXPECT_EQ(scan(fitted), std::vector<std::string>{link.toStdString()}) << modules.width() << " modules";
    }
}

TEST(PairingQRCode, HasAQuietZoneOfFourModules) {
    const QImage image = Plovander::pairingQRImage("plovander://pair?c=AB3D7KQ2");
    ASSERT_FALSE(image.isNull());
    for (int i = 0; i < image.width(); ++i) {
        for (int edge = 0; edge < 4; ++edge) {
            EXPECT_EQ(qGray(image.pixel(i, edge)), 255);
            EXPECT_EQ(qGray(image.pixel(edge, i)), 255);
        }
    }
}

} // namespace
} // namespace Testing
