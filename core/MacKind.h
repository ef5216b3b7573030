#pragma once

#include <optional>
#include <string_view>

namespace TessaloyCore {

// What sort of computer this is, as advertised to devices.
enum class MacKind { laptop, mini, studio, pro, imac, desktop };

// The case name: "laptop", "mini", "studio", "pro", "imac" or "desktop".
const char* nameOf(MacKind kind) noexcept;

// The kind a product or model name denotes: lower-cased, with every blank (space or tab) removed,
// it starts with "macbook" (laptop), "macmini" (mini), "macstudio" (studio), "macpro" (pro) or
// "imac" (imac), tested in that order; nullopt for anything else.
std::optional<MacKind> macKind(std::string_view productName);

} // namespace TessaloyCore
