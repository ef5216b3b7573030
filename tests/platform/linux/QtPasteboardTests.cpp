#include "platform/linux/QtPasteboard.h"
#include "tests/support/OffscreenGuiApplication.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QClipboard>
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <thread>

namespace {

using Platform::Linux::QtPasteboard;
using TessaloyCore::Bytes;

// A small picture whose every pixel differs, so a lossless round trip can be checked exactly.
QImage testPicture() {
    QImage image(7, 5, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) image.setPixelColor(x, y, QColor(x * 30, y * 50, 200, 255 - x - y));
    }
    return image;
}

Bytes encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return Bytes(bytes.begin(), bytes.end());
}

QImage decoded(const Bytes& bytes) {
    QImage image;
    image.loadFromData(bytes.data(), static_cast<int>(bytes.size()));
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// The offscreen platform's clipboard lives in this process, which is all these tests need.
class QtPasteboardTest : public testing::Test {
protected:
    static void SetUpTestSuite() { Testing::OffscreenGuiApplication::start(); }
    static void TearDownTestSuite() { Testing::OffscreenGuiApplication::stop(); }

    void SetUp() override {
        if (!Testing::OffscreenGuiApplication::isAvailable()) {
            GTEST_SKIP() << "another suite made a non-GUI application first";
        }
        pasteboard = std::make_unique<QtPasteboard>(*QGuiApplication::clipboard());
        pasteboard->clearContents();
    }

    std::unique_ptr<QtPasteboard> pasteboard;
};

TEST_F(QtPasteboardTest, TextMakesTheRoundTrip) {
    EXPECT_FALSE(pasteboard->string());
    pasteboard->setString("Grüße, \xF0\x9F\x93\x8B clipboard");
    EXPECT_EQ(pasteboard->string(), "Grüße, \xF0\x9F\x93\x8B clipboard");
    EXPECT_TRUE(contains(pasteboard->types(), "public.utf8-plain-text"));
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "Grüße, \xF0\x9F\x93\x8B clipboard");

    pasteboard->clearContents();
    EXPECT_FALSE(pasteboard->string());
    EXPECT_TRUE(pasteboard->types().empty());
}

TEST_F(QtPasteboardTest, AnImageMakesTheRoundTripAsPNG) {
    const Bytes png = encoded(testPicture(), "PNG");
    const auto image = pasteboard->makeImage(png);
    ASSERT_NE(image, nullptr);
    pasteboard->writeImage(*image);

    EXPECT_TRUE(contains(pasteboard->types(), "public.png"));
    const auto read = pasteboard->pngImage();
    ASSERT_TRUE(read);
    EXPECT_EQ(decoded(*read), testPicture());
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("image/png"),
              QByteArray::fromRawData(reinterpret_cast<const char*>(png.data()), static_cast<qsizetype>(png.size())));
}

TEST_F(QtPasteboardTest, AJpegIsOfferedAsAnImageWithItsOriginalBytes) {
    const Bytes jpeg = encoded(testPicture(), "JPEG");
    if (jpeg.empty()) GTEST_SKIP() << "Qt has no JPEG writer here";
    const auto image = pasteboard->makeImage(jpeg);
    ASSERT_NE(image, nullptr);
    pasteboard->writeImage(*image);
    pasteboard->setData(jpeg, "public.jpeg");
    EXPECT_EQ(pasteboard->types(), std::vector<std::string>{"public.jpeg"});
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("image/jpeg").size(), static_cast<qsizetype>(jpeg.size()));
    const auto read = pasteboard->pngImage();
    ASSERT_TRUE(read);
    EXPECT_EQ(decoded(*read).size(), testPicture().size());
}

TEST_F(QtPasteboardTest, WritesAddToTheItemUntilItIsCleared) {
    pasteboard->setString("caption");
    const auto image = pasteboard->makeImage(encoded(testPicture(), "PNG"));
    ASSERT_NE(image, nullptr);
    pasteboard->writeImage(*image);
    EXPECT_EQ(pasteboard->string(), "caption");
    EXPECT_TRUE(pasteboard->pngImage());

    // A type without a clipboard format is not written.
    pasteboard->setData(Bytes{1, 2, 3}, "com.example.private");
    EXPECT_FALSE(contains(pasteboard->types(), "com.example.private"));

    pasteboard->clearContents();
    EXPECT_FALSE(pasteboard->string());
    EXPECT_FALSE(pasteboard->pngImage());
}

TEST_F(QtPasteboardTest, BytesThatAreNoImageMakeNoImage) {
    EXPECT_EQ(pasteboard->makeImage(Bytes{1, 2, 3, 4, 5}), nullptr);
    EXPECT_EQ(pasteboard->makeImage(Bytes{}), nullptr);
    Bytes truncated = encoded(testPicture(), "PNG");
    truncated.resize(truncated.size() / 2);
    EXPECT_EQ(pasteboard->makeImage(truncated), nullptr);
}

TEST_F(QtPasteboardTest, OnlyLocalFileURLsAreRead) {
    auto* contents = new QMimeData;
    contents->setUrls({QUrl::fromLocalFile("/tmp/a file.txt"), QUrl("https://example.com/b.txt"),
                       QUrl::fromLocalFile("/tmp/folder")});
    QGuiApplication::clipboard()->setMimeData(contents);

    EXPECT_EQ(pasteboard->fileURLs(), (std::vector<std::filesystem::path>{"/tmp/a file.txt", "/tmp/folder"}));
    EXPECT_TRUE(contains(pasteboard->types(), "public.file-url"));
    EXPECT_FALSE(pasteboard->pngImage());
}

TEST_F(QtPasteboardTest, ATiffImageIsReadWhenQtCanReadTiff) {
    if (!QImageWriter::supportedImageFormats().contains("tiff")) {
        GTEST_SKIP() << "Qt's TIFF plugin (package qt6-image-formats-plugins) is not installed";
    }
    // Opaque: TIFF keeps alpha premultiplied, which rounds translucent colours.
    const QImage picture = testPicture().convertToFormat(QImage::Format_RGB32).convertToFormat(QImage::Format_ARGB32);
    const Bytes tiff = encoded(picture, "TIFF");
    auto* contents = new QMimeData;
    contents->setData("image/tiff",
                      QByteArray(reinterpret_cast<const char*>(tiff.data()), static_cast<qsizetype>(tiff.size())));
    QGuiApplication::clipboard()->setMimeData(contents);
    EXPECT_EQ(pasteboard->types(), std::vector<std::string>{"public.tiff"});
    const auto read = pasteboard->pngImage();
    ASSERT_TRUE(read);
    EXPECT_EQ(decoded(*read), picture);
}

TEST_F(QtPasteboardTest, OtherThreadsAreRefused) {
    bool refused = false;
    std::thread other([&] {
        try {
            (void)pasteboard->string();
        } catch (const std::logic_error&) {
            refused = true;
        }
    });
    other.join();
    EXPECT_TRUE(refused);
}

TEST_F(QtPasteboardTest, CreateGivesTheApplicationsClipboard) {
    const auto general = Platform::Pasteboard::create();
    ASSERT_NE(general, nullptr);
    general->setString("shared");
    EXPECT_EQ(pasteboard->string(), "shared");
}

} // namespace
