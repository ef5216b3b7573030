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
    const QImage shown = find<QLabel>("pairingQR")->pixmap().toImage();
    ASSERT_GE(shown.width(), 100);
    EXPECT_EQ(scan(shown), std::vector<std::string>{*session->pairingLink()});
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
