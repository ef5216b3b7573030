#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace Platform::Linux {

// What a monitor says about itself in its EDID block.
struct Edid {
    static constexpr std::size_t baseBlockSize = 128;

    // The text of the first monitor-name descriptor of a valid base block (header and checksum
    // correct), without its line feed and padding. Absent when the block is not valid or has no
    // such descriptor, or when the name is empty or not printable ASCII.
    static std::optional<std::string> monitorName(std::span<const std::uint8_t> bytes);
};

} // namespace Platform::Linux
