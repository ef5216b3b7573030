#include <gtest/gtest.h>

#include "app/services/PointerShapeWatcher.h"
#include "tests/support/FakeCursorImage.h"
#include "tests/support/ManualMainActor.h"

#include <QImage>

#include <limits>
#include <random>

namespace {

using namespace std::chrono_literals;
using Plovander::PointerShapeWatcher;
using Testing::FakeCursorImage;
using Image = Platform::CursorImage::Image;
using SessionMessage = TessaloyCore::SessionMessage;
using PointerImage = SessionMessage::PointerImage;
using PointerShape = SessionMessage::PointerShape;

const Image arrow = FakeCursorImage::filled(16, 24, 0xff000000, 0xffffffff, 1, 1);
const Image iBeam = FakeCursorImage::filled(8, 20, 0xff202020, 0xffffffff, 4, 10);

QImage decoded(const TessaloyCore::Bytes& png) {
    return QImage::fromData(png.data(), static_cast<int>(png.size()), "PNG");
}

class PointerShapeWatcherTest : public ::testing::Test {
protected:
    PointerShapeWatcherTest() {
        auto fake = std::make_unique<FakeCursorImage>();
        cursor = fake.get();
        cursor->setImage(arrow);
        watcher = std::make_unique<PointerShapeWatcher>(
            actor, std::move(fake), [this](const SessionMessage& message) { sent.push_back(message); });
    }

    // Lets the timer poll once more.
    void tick() { actor.advance(PointerShapeWatcher::pollInterval); }

    const PointerImage& imageAt(std::size_t index) {
        EXPECT_TRUE(sent.at(index).is<PointerImage>()) << "message " << index << " is not a picture";
        static const PointerImage none;
        return sent.at(index).is<PointerImage>() ? std::get<PointerImage>(sent.at(index).value) : none;
    }

    Testing::ManualMainActor actor;
    FakeCursorImage* cursor = nullptr;
    std::unique_ptr<PointerShapeWatcher> watcher;
    std::vector<SessionMessage> sent;
};

TEST_F(PointerShapeWatcherTest, StartingSendsTheCurrentShapeAsAPicture) {
    watcher->start();
    ASSERT_EQ(sent.size(), 1u);
    const PointerImage& image = imageAt(0);
    EXPECT_EQ(image.hotspotX, 1);
    EXPECT_EQ(image.hotspotY, 1);
    EXPECT_EQ(image.width, 16);
    EXPECT_EQ(image.height, 24);
    EXPECT_EQ(image.id, PointerShapeWatcher::shapeIdentifier(image.png, 1, 1));
    // Rendered at twice its size, with its colours.
    const QImage picture = decoded(image.png);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.width(), 32);
    EXPECT_EQ(picture.height(), 48);
    EXPECT_EQ(picture.pixel(16, 24), 0xff000000u);
    EXPECT_EQ(picture.pixel(0, 0), 0xffffffffu);
}

TEST_F(PointerShapeWatcherTest, AnUnchangedPointerIsSentOnceWhilePollingGoesOn) {
    watcher->start();
    const int reads = cursor->reads();
    actor.advance(1s);
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_GE(cursor->reads(), reads + 9);
    EXPECT_EQ(actor.pendingTimers(), 1u);
}

TEST_F(PointerShapeWatcherTest, AShapeSeenBeforeGoesOutAsItsIdentifierOnly) {
    watcher->start();
    cursor->setImage(iBeam);
    tick();
    cursor->setImage(arrow);
    tick();
    ASSERT_EQ(sent.size(), 3u);
    const auto arrowID = imageAt(0).id;
    const auto iBeamID = imageAt(1).id;
    EXPECT_NE(arrowID, iBeamID);
    EXPECT_EQ(imageAt(1).width, 8);
    EXPECT_EQ(imageAt(1).hotspotY, 10);
    EXPECT_EQ(sent[2], SessionMessage{PointerShape{arrowID}});

    cursor->setImage(iBeam);
    tick();
    EXPECT_EQ(sent.back(), SessionMessage{PointerShape{iBeamID}});
}

TEST_F(PointerShapeWatcherTest, TheHotSpotIsPartOfTheIdentifier) {
    watcher->start();
    Image moved = arrow;
    moved.hotspotX = 2;
    cursor->setImage(moved);
    tick();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(imageAt(0).png, imageAt(1).png);
    EXPECT_NE(imageAt(0).id, imageAt(1).id);
    EXPECT_EQ(imageAt(1).hotspotX, 2);
}

TEST_F(PointerShapeWatcherTest, PicturesOverFiveHundredTwelvePixelsAreNeverSent) {
    cursor->setImage(FakeCursorImage::filled(300, 300, 0xff102030, 0xffffffff));
    watcher->start();
    actor.advance(0.5s);
    EXPECT_TRUE(sent.empty());

    cursor->setImage(FakeCursorImage::filled(256, 256, 0xff102030, 0xffffffff));
    tick();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(imageAt(0).width, 256);
    const QImage picture = decoded(imageAt(0).png);
    EXPECT_EQ(picture.width(), 512);
    EXPECT_EQ(picture.height(), 512);
}

TEST_F(PointerShapeWatcherTest, APictureWhosePNGIsTooLargeIsNotSent) {
    Image noise = FakeCursorImage::filled(256, 256, 0, 0);
    std::mt19937 random(7);
    for (auto& pixel : noise.pixels) pixel = 0xff000000 | (random() & 0xffffff);
    cursor->setImage(noise);
    watcher->start();
    EXPECT_TRUE(sent.empty());
    EXPECT_FALSE(PointerShapeWatcher::renderPNG(noise));
}

TEST_F(PointerShapeWatcherTest, StartingAgainAnnouncesTheShapeAgainAsItsIdentifier) {
    watcher->start();
    watcher->start();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], SessionMessage{PointerShape{imageAt(0).id}});
    EXPECT_EQ(actor.pendingTimers(), 1u);
}

TEST_F(PointerShapeWatcherTest, AfterAStopTheFirstShapeGoesOutAsAPictureAgain) {
    watcher->start();
    watcher->stop();
    EXPECT_FALSE(watcher->isStarted());
    EXPECT_EQ(actor.pendingTimers(), 0u);
    watcher->start();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(imageAt(1), imageAt(0));
}

TEST_F(PointerShapeWatcherTest, AStoppedWatcherPollsNothing) {
    watcher->poll();
    EXPECT_EQ(cursor->reads(), 0);
    EXPECT_TRUE(sent.empty());

    watcher->start();
    watcher->stop();
    const int reads = cursor->reads();
    actor.advance(1s);
    watcher->poll();
    EXPECT_EQ(cursor->reads(), reads);
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(PointerShapeWatcherTest, ANewSessionGetsThePictureBeforeTheIdentifier) {
    std::vector<SessionMessage> firstSession;
    watcher->setSend([&](const SessionMessage& message) { firstSession.push_back(message); });
    watcher->start();
    watcher->stop();

    // The controller polls once when the next device starts drawing the pointer, while the
    // previous session's output is still in place and before the watcher is started again.
    watcher->poll();
    watcher->setSend([this](const SessionMessage& message) { sent.push_back(message); });
    watcher->start();
    tick();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].is<PointerImage>());
    EXPECT_EQ(firstSession.size(), 1u);
}

TEST_F(PointerShapeWatcherTest, NoPointerPictureSendsNothingUntilOneAppears) {
    cursor->setImage(std::nullopt);
    watcher->start();
    tick();
    EXPECT_TRUE(sent.empty());
    cursor->setImage(iBeam);
    tick();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(imageAt(0).width, 8);
}

TEST_F(PointerShapeWatcherTest, AWatcherThatIsGoneIsNotPolled) {
    watcher->start();
    watcher.reset();
    EXPECT_EQ(actor.pendingTimers(), 0u);
    actor.advance(1s);
    EXPECT_EQ(sent.size(), 1u);
}

TEST(PointerShapeWatcherWithoutCursorTest, SendsNothing) {
    Testing::ManualMainActor actor;
    int sent = 0;
    PointerShapeWatcher watcher(actor, nullptr, [&](const SessionMessage&) { ++sent; });
    watcher.start();
    actor.advance(1s);
    EXPECT_EQ(sent, 0);
}

TEST(PointerShapeRenderingTest, PixelSizesAreRoundedHalvesAwayFromZeroAndKeptWithinLimits) {
    // 256 points make 512 pixels; a quarter point makes half a pixel, which rounds up to one.
    Image image = FakeCursorImage::filled(1, 1, 0xff000000, 0xff000000);
    image.scale = 4;
    ASSERT_TRUE(PointerShapeWatcher::renderPNG(image));
    EXPECT_EQ(decoded(*PointerShapeWatcher::renderPNG(image)).width(), 1);
    image.scale = 5;
    EXPECT_FALSE(PointerShapeWatcher::renderPNG(image));

    Image large = FakeCursorImage::filled(513, 512, 0xff000000, 0xff000000);
    large.scale = 2;
    EXPECT_FALSE(PointerShapeWatcher::renderPNG(large));
    large = FakeCursorImage::filled(512, 512, 0xff000000, 0xff000000);
    large.scale = 2;
    ASSERT_TRUE(PointerShapeWatcher::renderPNG(large));
    EXPECT_EQ(decoded(*PointerShapeWatcher::renderPNG(large)).width(), 512);
}

TEST(PointerShapeRenderingTest, APictureWhoseSizeDoesNotMatchItsPixelsIsNotRendered) {
    Image image = FakeCursorImage::filled(4, 4, 0xff000000, 0xff000000);
    image.pixels.pop_back();
    EXPECT_FALSE(PointerShapeWatcher::renderPNG(image));
}

TEST(PointerShapeIdentifierTest, IsTheDigestOfThePNGAndTheHotSpotText) {
    EXPECT_EQ(PointerShapeWatcher::shapeIdentifier({}, 4, 4.5), 0x11cb6fd8u);
    const TessaloyCore::Bytes png{1, 2, 3};
    EXPECT_EQ(PointerShapeWatcher::shapeIdentifier(png, 0.5, 16), 0xa566e025u);
}

TEST(PointerShapeIdentifierTest, DecimalTextsAlwaysShowTheirKind) {
    EXPECT_EQ(PointerShapeWatcher::decimalText(4), "4.0");
    EXPECT_EQ(PointerShapeWatcher::decimalText(4.5), "4.5");
    EXPECT_EQ(PointerShapeWatcher::decimalText(0), "0.0");
    EXPECT_EQ(PointerShapeWatcher::decimalText(-3), "-3.0");
    EXPECT_EQ(PointerShapeWatcher::decimalText(0.1), "0.1");
    EXPECT_EQ(PointerShapeWatcher::decimalText(123456.25), "123456.25");
    EXPECT_EQ(PointerShapeWatcher::decimalText(1e15), "1000000000000000.0");
    EXPECT_EQ(PointerShapeWatcher::decimalText(1e16), "1e+16");
    EXPECT_EQ(PointerShapeWatcher::decimalText(1e-5), "1e-05");
}

TEST(PointerShapeSignatureTest, ChangesWithThePictureAndTheHotSpot) {
    const auto signature = PointerShapeWatcher::quickSignature(arrow);
    EXPECT_EQ(PointerShapeWatcher::quickSignature(arrow), signature);
    Image changed = arrow;
    changed.pixels[5] ^= 1;
    EXPECT_NE(PointerShapeWatcher::quickSignature(changed), signature);
    changed = arrow;
    changed.hotspotY = 2;
    EXPECT_NE(PointerShapeWatcher::quickSignature(changed), signature);
    // The same pixels in another shape.
    changed = arrow;
    changed.width = 24;
    changed.height = 16;
    EXPECT_NE(PointerShapeWatcher::quickSignature(changed), signature);
    // Hot spots no integer holds still give a signature.
    changed = arrow;
    changed.hotspotX = std::numeric_limits<double>::quiet_NaN();
    changed.hotspotY = 1e300;
    EXPECT_EQ(PointerShapeWatcher::quickSignature(changed), PointerShapeWatcher::quickSignature(changed));
}

} // namespace
