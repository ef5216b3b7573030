#include "platform/linux/QtPasteboard.h"

#include "platform/linux/TypeIdentifiers.h"

#include <QBuffer>
#include <QClipboard>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QMimeData>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <stdexcept>

namespace Platform::Linux {
namespace {

class QtImage final : public Pasteboard::Image {
public:
    QtImage(QImage image, QString format, QByteArray original)
        : image(std::move(image)), format(std::move(format)), original(std::move(original)) {}

    QImage image;
    // The MIME type of the original bytes, empty when Qt names none.
    QString format;
    QByteArray original;
};

QByteArray byteArrayOf(TessaloyCore::ByteView bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

QString mimeTypeOfImageFormat(const QByteArray& format) {
    const QByteArray lower = format.toLower();
    if (lower == "png") return "image/png";
    if (lower == "jpeg" || lower == "jpg") return "image/jpeg";
    if (lower == "tif" || lower == "tiff") return "image/tiff";
    if (lower == "gif") return "image/gif";
    if (lower == "bmp") return "image/bmp";
    if (lower == "webp") return "image/webp";
    if (lower == "heic" || lower == "heif") return "image/heic";
    return {};
}

} // namespace

QtPasteboard::QtPasteboard(QClipboard& clipboard) : clipboard_(clipboard) { requireThread(); }

void QtPasteboard::requireThread() const {
    if (QThread::currentThread() != clipboard_.thread()) {
        throw std::logic_error("the clipboard is used off the application's thread");
    }
}

void QtPasteboard::clearContents() {
    requireThread();
    item_ = {};
    clipboard_.clear();
}

std::optional<std::string> QtPasteboard::string() const {
    requireThread();
    const QMimeData* contents = clipboard_.mimeData();
    if (!contents || !contents->hasText()) return std::nullopt;
    return contents->text().toStdString();
}

void QtPasteboard::setString(std::string_view text) {
    requireThread();
    item_.text = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    publish();
}

std::vector<std::string> QtPasteboard::types() const {
    requireThread();
    std::vector<std::string> identifiers;
    const QMimeData* contents = clipboard_.mimeData();
    if (!contents) return identifiers;
    // Only the formats really offered: Qt also lists its own image format for any readable image.
    for (const QString& format : contents->formats()) {
        const std::string identifier(TypeIdentifiers::ofClipboardFormat(format.toStdString()));
        if (identifier.empty()) continue;
        if (std::find(identifiers.begin(), identifiers.end(), identifier) == identifiers.end()) {
            identifiers.push_back(identifier);
        }
    }
    return identifiers;
}

std::vector<std::filesystem::path> QtPasteboard::fileURLs() const {
    requireThread();
    std::vector<std::filesystem::path> files;
    const QMimeData* contents = clipboard_.mimeData();
    if (!contents || !contents->hasUrls()) return files;
    for (const QUrl& url : contents->urls()) {
        if (url.isLocalFile()) files.emplace_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    return files;
}

std::optional<TessaloyCore::Bytes> QtPasteboard::pngImage() const {
    requireThread();
    const QMimeData* contents = clipboard_.mimeData();
    if (!contents) return std::nullopt;
    QImage image;
    if (contents->hasImage()) {
        image = qvariant_cast<QImage>(contents->imageData());
    } else {
        // Where the platform does not turn image data into an image itself, decode the bytes.
        for (const char* type : {"image/png", "image/tiff"}) {
            if (contents->hasFormat(type)) {
                image = QImage::fromData(contents->data(type));
                break;
            }
        }
    }
    if (image.isNull()) return std::nullopt;
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) return std::nullopt;
    return TessaloyCore::Bytes(png.begin(), png.end());
}

std::unique_ptr<Pasteboard::Image> QtPasteboard::makeImage(TessaloyCore::ByteView encoded) const {
    requireThread();
    QByteArray original = byteArrayOf(encoded);
    QBuffer buffer(&original);
    if (!buffer.open(QIODevice::ReadOnly)) return nullptr;
    QImageReader reader(&buffer);
    // Asked before reading: afterwards the reader no longer knows.
    const QString format = mimeTypeOfImageFormat(reader.format());
    const QImage image = reader.read();
    if (image.isNull()) return nullptr;
    buffer.close();
    return std::make_unique<QtImage>(image, format, std::move(original));
}

void QtPasteboard::writeImage(const Image& image) {
    requireThread();
    const auto& decoded = dynamic_cast<const QtImage&>(image);
    item_.image = decoded.image;
    if (!decoded.format.isEmpty()) addData(decoded.format, decoded.original);
    publish();
}

void QtPasteboard::setData(TessaloyCore::ByteView data, std::string_view type) {
    requireThread();
    const std::string_view format = TypeIdentifiers::clipboardFormatOf(type);
    if (format.empty()) return;
    addData(QString::fromLatin1(format.data(), static_cast<qsizetype>(format.size())), byteArrayOf(data));
    publish();
}

void QtPasteboard::addData(const QString& format, QByteArray bytes) {
    for (auto& [existing, value] : item_.data) {
        if (existing == format) {
            value = std::move(bytes);
            return;
        }
    }
    item_.data.emplace_back(format, std::move(bytes));
}

void QtPasteboard::publish() {
    auto* contents = new QMimeData;
    if (item_.text) contents->setText(*item_.text);
    if (item_.image) contents->setImageData(*item_.image);
    for (const auto& [format, bytes] : item_.data) contents->setData(format, bytes);
    // The clipboard owns the contents from here on.
    clipboard_.setMimeData(contents);
}

} // namespace Platform::Linux

namespace Platform {

std::unique_ptr<Pasteboard> Pasteboard::create() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return nullptr;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) return nullptr;
    return std::make_unique<Linux::QtPasteboard>(*clipboard);
}

} // namespace Platform
