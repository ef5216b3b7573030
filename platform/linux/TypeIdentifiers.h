#pragma once

#include <string_view>

namespace Platform::Linux {

// Between the MIME types of this desktop and the type identifiers the paired device uses.
//
// Clipboard formats (both ways):
//   text/plain;charset=utf-8  public.utf8-plain-text   (text/plain is read as the same)
//   text/uri-list             public.file-url
//   image/png                 public.png
//   image/tiff                public.tiff
//   image/jpeg                public.jpeg
//   image/gif                 com.compuserve.gif
//   image/bmp                 com.microsoft.bmp
//   image/heic                public.heic
//   image/webp                org.webmproject.webp
//
// File types (MIME type to identifier), tried for the file's type and its aliases; any other type
// that inherits from text/plain (source code, scripts, logs) is public.plain-text:
//   image/jpeg public.jpeg, image/png public.png, image/tiff public.tiff, image/gif
//   com.compuserve.gif, image/bmp com.microsoft.bmp, image/heic public.heic, image/webp
//   org.webmproject.webp, application/pdf com.adobe.pdf, text/html public.html, application/json
//   public.json, text/csv public.comma-separated-values-text, text/plain public.plain-text,
//   application/zip public.zip-archive, application/gzip org.gnu.gnu-zip-archive, video/mp4
//   public.mpeg-4, video/quicktime com.apple.quicktime-movie, audio/mpeg public.mp3, audio/mp4
//   public.mpeg-4-audio, application/octet-stream public.data.
// A type in neither list is "public.data".
struct TypeIdentifiers {
    static constexpr std::string_view anyData = "public.data";

    // The identifier of a clipboard format; empty for a format the device has no name for.
    static std::string_view ofClipboardFormat(std::string_view mimeType);
    // The clipboard format of an identifier; empty for an identifier without one.
    static std::string_view clipboardFormatOf(std::string_view identifier);
    // The identifier of a file's MIME type; empty when the type is not in the file list.
    static std::string_view ofFileType(std::string_view mimeType);
};

} // namespace Platform::Linux
