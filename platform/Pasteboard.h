#pragma once

#include "core/Bytes.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

// The desktop's general clipboard. Contents are described by type identifiers, the names the paired
// device uses for them ("public.png"); each implementation maps them to its own formats.
//
// Writes add to the current contents until the next clearContents(), so one item can carry an
// image together with its original bytes. Main thread only.
class Pasteboard {
public:
    static constexpr std::string_view pngType = "public.png";
    static constexpr std::string_view tiffType = "public.tiff";
    static constexpr std::string_view textType = "public.utf8-plain-text";
    static constexpr std::string_view fileURLType = "public.file-url";

    // A picture decoded by the platform, ready to be written by the pasteboard that made it.
    class Image {
    public:
        virtual ~Image() = default;
    };

    // The general clipboard of the running desktop session; nullptr when there is none (no GUI
    // application, or no display).
    static std::unique_ptr<Pasteboard> create();

    virtual ~Pasteboard() = default;

    // Empties the clipboard and starts a new item.
    virtual void clearContents() = 0;
    // The plain text on the clipboard; nullopt when it holds none.
    virtual std::optional<std::string> string() const = 0;
    virtual void setString(std::string_view text) = 0;

    // The type identifiers of what the clipboard offers, in its order; formats without an identifier
    // are left out.
    virtual std::vector<std::string> types() const = 0;
    // The local files the clipboard holds as file URLs, in order; other URLs are left out.
    virtual std::vector<std::filesystem::path> fileURLs() const = 0;
    // The clipboard's image converted to PNG; nullopt when it holds no image or the conversion fails.
    virtual std::optional<TessaloyCore::Bytes> pngImage() const = 0;

    // Decodes encoded image bytes (PNG, JPEG, ...); nullptr when they are no image the platform reads.
    virtual std::unique_ptr<Image> makeImage(TessaloyCore::ByteView encoded) const = 0;
    // Adds the image to the current item. `image` comes from this pasteboard's makeImage().
    virtual void writeImage(const Image& image) = 0;
    // Adds raw bytes under a type identifier; a type the platform has no format for is not written.
    virtual void setData(TessaloyCore::ByteView data, std::string_view type) = 0;
};

} // namespace Platform
