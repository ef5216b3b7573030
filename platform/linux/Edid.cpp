#include "platform/linux/Edid.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace Platform::Linux {
namespace {

constexpr std::array<std::uint8_t, 8> header{0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
constexpr std::array<std::size_t, 4> descriptorOffsets{54, 72, 90, 108};
constexpr std::size_t descriptorSize = 18;
constexpr std::uint8_t monitorNameTag = 0xfc;
constexpr std::size_t textOffset = 5;

} // namespace

std::optional<std::string> Edid::monitorName(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < baseBlockSize) return std::nullopt;
    const auto block = bytes.first(baseBlockSize);
    if (!std::equal(header.begin(), header.end(), block.begin())) return std::nullopt;
    if (std::accumulate(block.begin(), block.end(), 0u) % 256 != 0) return std::nullopt;

    for (const std::size_t offset : descriptorOffsets) {
        const auto descriptor = block.subspan(offset, descriptorSize);
        // A display descriptor rather than a timing starts with a zero pixel clock.
        const bool isName =
            descriptor[0] == 0 && descriptor[1] == 0 && descriptor[2] == 0 && descriptor[3] == monitorNameTag;
        if (!isName) continue;
        std::string name;
        for (const std::uint8_t byte : descriptor.subspan(textOffset)) {
            if (byte == 0x0a) break;
            if (byte < 0x20 || byte > 0x7e) return std::nullopt;
            name.push_back(static_cast<char>(byte));
        }
        while (!name.empty() && name.back() == ' ') name.pop_back();
        while (!name.empty() && name.front() == ' ') name.erase(name.begin());
        if (name.empty()) return std::nullopt;
        return name;
    }
    return std::nullopt;
}

} // namespace Platform::Linux
