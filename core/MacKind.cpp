#include "core/MacKind.h"

#include <array>
#include <string>
#include <utility>

namespace TessaloyCore {

const char* nameOf(MacKind kind) noexcept {
    switch (kind) {
        case MacKind::laptop:
            return "laptop";
        case MacKind::mini:
            return "mini";
        case MacKind::studio:
            return "studio";
        case MacKind::pro:
            return "pro";
        case MacKind::imac:
            return "imac";
        case MacKind::desktop:
            return "desktop";
    }
    return "unknown";
}

std::optional<MacKind> macKind(std::string_view productName) {
    std::string compact;
    compact.reserve(productName.size());
    for (const char c : productName) {
        if (c == ' ' || c == '\t') continue;
        compact.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    static constexpr std::array<std::pair<std::string_view, MacKind>, 5> prefixes{{
        {"macbook", MacKind::laptop},
        {"macmini", MacKind::mini},
        {"macstudio", MacKind::studio},
        {"macpro", MacKind::pro},
        {"imac", MacKind::imac},
    }};
    for (const auto& [prefix, kind] : prefixes) {
        if (compact.starts_with(prefix)) return kind;
    }
    return std::nullopt;
}

} // namespace TessaloyCore
