#pragma once

#include "platform/Pasteboard.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

class QClipboard;

namespace Platform::Linux {

// The desktop clipboard through Qt (QGuiApplication::clipboard()), with type identifiers mapped as
// TypeIdentifiers lists. Images are read in every format Qt reads (TIFF needs Qt's image-formats
// plugins) and written as an image, which the clipboard offers in every format Qt writes, plus the
// original bytes under their own format. Must be made and used on the application's thread; other
// threads get std::logic_error.
class QtPasteboard final : public Pasteboard {
public:
    explicit QtPasteboard(QClipboard& clipboard);

    void clearContents() override;
    std::optional<std::string> string() const override;
    void setString(std::string_view text) override;
    std::vector<std::string> types() const override;
    std::vector<std::filesystem::path> fileURLs() const override;
    std::optional<TessaloyCore::Bytes> pngImage() const override;
    std::unique_ptr<Image> makeImage(TessaloyCore::ByteView encoded) const override;
    void writeImage(const Image& image) override;
    void setData(TessaloyCore::ByteView data, std::string_view type) override;

private:
    // What this process has written since the last clearContents(); republished whole at each write,
    // since the clipboard takes one set of contents at a time.
    struct Item {
        std::optional<QString> text;
        std::optional<QImage> image;
        std::vector<std::pair<QString, QByteArray>> data;
    };

    void requireThread() const;
    void addData(const QString& format, QByteArray bytes);
    void publish();

    QClipboard& clipboard_;
    Item item_;
};

} // namespace Platform::Linux
