#include "tests/support/PatternFile.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace Testing {

void writePatternFile(const std::filesystem::path& file, std::uint64_t size, std::uint64_t seed) {
    constexpr std::uint64_t blockSize = 1024 * 1024;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::vector<std::uint64_t> block(blockSize / sizeof(std::uint64_t));
    std::uint64_t x = seed * 0x9E37'79B9'7F4A'7C15ull + 1;
    for (std::uint64_t written = 0; written < size;) {
        for (auto& word : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
        const std::uint64_t count = std::min<std::uint64_t>(blockSize, size - written);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(count));
        written += count;
    }
    if (!out.flush()) throw std::runtime_error("could not write " + file.string());
}

} // namespace Testing
