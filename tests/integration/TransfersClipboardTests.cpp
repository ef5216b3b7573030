#include "platform/linux/QtPasteboard.h"
#include "tests/integration/TransfersFixture.h"
#include "tests/support/FakePasteboard.h"
#include "tests/support/OffscreenGuiApplication.h"

#include <QBuffer>
#include <QByteArray>
#include <QClipboard>
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

namespace TransfersTesting {
namespace {

using Testing::FakeEvents;
using Write = Testing::FakePasteboard::Write;

// A picture whose every pixel differs, so that only a lossless round trip matches it.
QImage picture() {
    QImage image(64, 48, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) image.setPixelColor(x, y, QColor(x * 4, y * 5, (x + y) % 256, 255));
    }
    return image;
}

Bytes pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(bytes.begin(), bytes.end());
}

// Command-V, down and up.
std::vector<FakeEvents::Posted> pasteShortcut() {
    const auto command = TessaloyCore::InputEvent::Modifiers::command;
    return {FakeEvents::Key{9, true, command}, FakeEvents::Key{9, false, command}};
}

class ClipboardTransfers : public TransfersTest {
protected:
    // Sends the image as the device does when its user copies one for this Mac, and waits until it
    // is pasted.
    void sendImage(const Bytes& png) {
        TransferPeer::Offer offer;
        offer.purpose = TransferPurpose::clipboard;
        offer.name = "Image.png";
        offer.contentType = "public.png";
        const auto sent = peer->sendBytes(png, offer);
        ASSERT_TRUE(until([&] { return environment.posted->posted().size() >= 2; }));
        EXPECT_EQ(peer->outgoing(sent.id)->state, TransferPeer::Outgoing::State::finished);
    }

    // A clipboard transfer leaves no row and no file.
    void expectNoTrace() {
        EXPECT_TRUE(transfers().active().empty());
        EXPECT_TRUE(transfers().finished().empty());
        EXPECT_FALSE(transfers().lastReceived());
        EXPECT_FALSE(transfers().lastProblem());
        EXPECT_TRUE(until([&] { return filesIn(workFolder()).empty(); }));
        EXPECT_TRUE(filesIn(receivedFolder()).empty());
        EXPECT_TRUE(peer->problems().empty());
    }
};

TEST_F(ClipboardTransfers, AnImageFromTheDeviceLandsOnThePasteboardAndIsPasted) {
    startStreaming();
    const Bytes png = pngOf(picture());

    sendImage(png);
    auto& pasteboard = dynamic_cast<Testing::FakePasteboard&>(*environment.fake.pasteboard());
    EXPECT_EQ(pasteboard.writes(), (std::vector<Write>{{Write::Kind::clear, {}, {}},
                                                       {Write::Kind::image, {}, png},
                                                       {Write::Kind::data, "public.png", png}}));
    EXPECT_EQ(environment.posted->posted(), pasteShortcut());
    EXPECT_TRUE(traced("pasted an image from the device, " + std::to_string(png.size()) + " bytes"));
    expectNoTrace();
}

// The desktop's own clipboard, on Qt's offscreen platform, whose clipboard lives in this process.
class DesktopClipboardTransfers : public ClipboardTransfers {
protected:
    static void SetUpTestSuite() { Testing::OffscreenGuiApplication::start(); }
    static void TearDownTestSuite() { Testing::OffscreenGuiApplication::stop(); }

    void SetUp() override {
        if (!Testing::OffscreenGuiApplication::isAvailable()) {
            GTEST_SKIP() << "another suite made a non-GUI application first";
        }
        environment.clipboard = std::make_shared<Platform::Linux::QtPasteboard>(*QGuiApplication::clipboard());
    }
};

TEST_F(DesktopClipboardTransfers, AnImageFromTheDeviceLandsOnTheDesktopClipboardAndIsPasted) {
    startStreaming();
    QGuiApplication::clipboard()->setText("copied earlier");
    const QImage image = picture();
    const Bytes png = pngOf(image);

    sendImage(png);
    const QMimeData* contents = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(contents, nullptr);
    EXPECT_FALSE(contents->hasText()) << "the clipboard was emptied first";
    ASSERT_TRUE(contents->hasImage());
    EXPECT_EQ(qvariant_cast<QImage>(contents->imageData()).convertToFormat(QImage::Format_ARGB32), image);
    const QByteArray original = contents->data("image/png");
    EXPECT_EQ(Bytes(original.begin(), original.end()), png);
    EXPECT_EQ(environment.posted->posted(), pasteShortcut());
    expectNoTrace();
}

} // namespace
} // namespace TransfersTesting
