#include "app/ui/Look.h"
#include "app/ui/SymbolView.h"
#include "app/ui/TextLabel.h"
#include "tests/app/ui/OffscreenWidgets.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QPalette>

namespace Testing {
namespace {

using Plovander::Tint;

// Symbols and secondary text made once are drawn in the palette of the moment: a light/dark switch
// recolours them.
TEST(Symbols, FollowAPaletteSwitchAfterTheyWereMade) {
    startOffscreenWidgets();
    const QPalette original = QApplication::palette();
    const QPalette light(QColor(240, 240, 240));
    const QPalette dark(QColor(40, 40, 42));
    QApplication::setPalette(light);
    const QIcon icon = Plovander::Look::symbol("xmark.circle.fill", Tint::accent);
    Plovander::SymbolView view("xmark.circle.fill", Tint::secondary, 16);
    view.resize(16, 16);
    view.show();
    Plovander::TextLabel text(QStringLiteral("\u2588\u2588\u2588"), true);
    text.show();
    const auto centreOf = [](const QImage& image) { return image.pixelColor(image.width() / 2, 2); };
    const auto middleOf = [](const QImage& image) { return image.pixelColor(image.width() / 2, image.height() / 2); };

    for (const QPalette& palette : {light, dark}) {
        QApplication::setPalette(palette);
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(centreOf(icon.pixmap(16).toImage()).rgb(), Plovander::Look::tealAccent(palette).rgb());
        const QColor secondary = centreOf(view.grab().toImage());
        EXPECT_EQ(secondary.lightness() > 128, palette == dark) << "half the text's strength on the window";
        EXPECT_EQ(middleOf(text.grab().toImage()).rgb(), secondary.rgb()) << "secondary text, as secondary symbols";
    }
    QApplication::setPalette(original);
}

// Painted into a slot wider than tall, as a tray's at scale 2, the symbol sits in its middle.
TEST(Symbols, SitInTheMiddleOfAWideSlot) {
    startOffscreenWidgets();
    QImage slot(48, 24, QImage::Format_ARGB32_Premultiplied);
    slot.fill(Qt::transparent);
    QPainter painter(&slot);
    Plovander::Look::symbol("xmark.circle.fill", Tint::accent).paint(&painter, slot.rect());
    painter.end();
    int left = slot.width();
    int right = 0;
    for (int x = 0; x < slot.width(); ++x) {
        for (int y = 0; y < slot.height(); ++y) {
            if (qAlpha(slot.pixel(x, y)) == 0) continue;
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    EXPECT_NEAR(left, slot.width() - 1 - right, 1);
}

} // namespace
} // namespace Testing
