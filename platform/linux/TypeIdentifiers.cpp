#include "platform/linux/TypeIdentifiers.h"

#include <array>
#include <utility>

namespace Platform::Linux {
namespace {

using Pair = std::pair<std::string_view, std::string_view>;

constexpr std::array clipboardFormats{
    Pair{"text/plain;charset=utf-8", "public.utf8-plain-text"},
    Pair{"text/uri-list", "public.file-url"},
    Pair{"image/png", "public.png"},
    Pair{"image/tiff", "public.tiff"},
    Pair{"image/jpeg", "public.jpeg"},
    Pair{"image/gif", "com.compuserve.gif"},
    Pair{"image/bmp", "com.microsoft.bmp"},
    Pair{"image/heic", "public.heic"},
    Pair{"image/webp", "org.webmproject.webp"},
};

constexpr std::array fileTypes{
    Pair{"image/jpeg", "public.jpeg"},
    Pair{"image/png", "public.png"},
    Pair{"image/tiff", "public.tiff"},
    Pair{"image/gif", "com.compuserve.gif"},
    Pair{"image/bmp", "com.microsoft.bmp"},
    Pair{"image/heic", "public.heic"},
    Pair{"image/webp", "org.webmproject.webp"},
    Pair{"application/pdf", "com.adobe.pdf"},
    Pair{"text/html", "public.html"},
    Pair{"application/json", "public.json"},
    Pair{"text/csv", "public.comma-separated-values-text"},
    Pair{"text/plain", "public.plain-text"},
    Pair{"application/zip", "public.zip-archive"},
    Pair{"application/gzip", "org.gnu.gnu-zip-archive"},
    Pair{"video/mp4", "public.mpeg-4"},
    Pair{"video/quicktime", "com.apple.quicktime-movie"},
    Pair{"audio/mpeg", "public.mp3"},
    Pair{"audio/mp4", "public.mpeg-4-audio"},
    Pair{"application/octet-stream", "public.data"},
};

} // namespace

std::string_view TypeIdentifiers::ofClipboardFormat(std::string_view mimeType) {
    if (mimeType == "text/plain") return "public.utf8-plain-text";
    for (const auto& [format, identifier] : clipboardFormats) {
        if (format == mimeType) return identifier;
    }
    return {};
}

std::string_view TypeIdentifiers::clipboardFormatOf(std::string_view identifier) {
    for (const auto& [format, name] : clipboardFormats) {
        if (name == identifier) return format;
    }
    return {};
}

std::string_view TypeIdentifiers::ofFileType(std::string_view mimeType) {
    for (const auto& [type, identifier] : fileTypes) {
        if (type == mimeType) return identifier;
    }
    return {};
}

} // namespace Platform::Linux
