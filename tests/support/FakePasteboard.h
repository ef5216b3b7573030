#pragma once

#include "platform/Pasteboard.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Testing {

// A clipboard in memory that records every write. Tests fill `contents` to stand for what the
// desktop's clipboard holds; writes change `contents` as the real one would and are logged in order.
// Bytes are an image when they start with the PNG or the JPEG signature. One thread only.
class FakePasteboard final : public Platform::Pasteboard {
public:
    struct Contents {
        std::optional<std::string> string;
        std::vector<std::string> types;
        std::vector<std::filesystem::path> fileURLs;
        // What pngImage() gives; nullopt stands for no image, or one that cannot be converted.
        std::optional<TessaloyCore::Bytes> pngImage;
        // The encoded bytes of the image written last.
        std::optional<TessaloyCore::Bytes> image;
        std::map<std::string, TessaloyCore::Bytes> data;

        friend bool operator==(const Contents&, const Contents&) = default;
    };

    struct Write {
        enum class Kind { clear, string, image, data };
        Kind kind = Kind::clear;
        // The text, or the type of data.
        std::string text;
        TessaloyCore::Bytes bytes;

        friend bool operator==(const Write&, const Write&) = default;
    };

    Contents contents;

    const std::vector<Write>& writes() const { return writes_; }
    std::size_t imagesMade() const { return imagesMade_; }

    void clearContents() override;
    std::optional<std::string> string() const override { return contents.string; }
    void setString(std::string_view text) override;
    std::vector<std::string> types() const override { return contents.types; }
    std::vector<std::filesystem::path> fileURLs() const override { return contents.fileURLs; }
    std::optional<TessaloyCore::Bytes> pngImage() const override { return contents.pngImage; }
    std::unique_ptr<Image> makeImage(TessaloyCore::ByteView encoded) const override;
    void writeImage(const Image& image) override;
    void setData(TessaloyCore::ByteView data, std::string_view type) override;

private:
    void addType(std::string_view type);

    std::vector<Write> writes_;
    mutable std::size_t imagesMade_ = 0;
};

} // namespace Testing
