#include <gtest/gtest.h>

// Qt before X11, whose macros clash with Qt's names.
#include <QImage>

#include "app/services/PointerShapeWatcher.h"
#include "platform/CursorImage.h"
#include "tests/platform/linux/X11InputWindow.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/XvfbServer.h"

#include <X11/cursorfont.h>

namespace {

using Plovander::PointerShapeWatcher;
using SessionMessage = TessaloyCore::SessionMessage;
using PointerImage = SessionMessage::PointerImage;
using PointerShape = SessionMessage::PointerShape;

// The watcher reading the pointer of a private X server.
class PointerShapeWatcherX11Test : public ::testing::Test {
protected:
    Testing::XvfbServer server;
    Testing::X11InputWindow window{server.displayName()};
    Testing::ManualMainActor actor;
    std::vector<SessionMessage> sent;
    PointerShapeWatcher watcher{actor, Platform::CursorImage::create(server.displayName()),
                                [this](const SessionMessage& message) { sent.push_back(message); }};
};

TEST_F(PointerShapeWatcherX11Test, ArrowIBeamArrowSendsTwoPicturesThenAnIdentifier) {
    window.showCursor(XC_left_ptr);
    watcher.start();
    window.showCursor(XC_xterm);
    actor.advance(PointerShapeWatcher::pollInterval);
    window.showCursor(XC_left_ptr);
    actor.advance(PointerShapeWatcher::pollInterval);
    actor.advance(PointerShapeWatcher::pollInterval);

    ASSERT_EQ(sent.size(), 3u);
    ASSERT_TRUE(sent[0].is<PointerImage>());
    ASSERT_TRUE(sent[1].is<PointerImage>());
    const auto& arrow = std::get<PointerImage>(sent[0].value);
    const auto& iBeam = std::get<PointerImage>(sent[1].value);
    EXPECT_NE(arrow.id, iBeam.id);
    EXPECT_EQ(sent[2], SessionMessage{PointerShape{arrow.id}});

    // Points are pixels here; the picture is rendered at twice that.
    const QImage picture = QImage::fromData(arrow.png.data(), static_cast<int>(arrow.png.size()), "PNG");
    ASSERT_FALSE(picture.isNull());
    EXPECT_GT(arrow.width, 0);
    EXPECT_EQ(picture.width(), static_cast<int>(arrow.width * 2));
    EXPECT_EQ(picture.height(), static_cast<int>(arrow.height * 2));
    EXPECT_LT(arrow.hotspotX, arrow.width);
}

} // namespace
