#pragma once

#include <cstddef>

namespace TessaloyBase {

// Captured sound as interleaved 32-bit float samples. Valid only during the callback that hands
// it over.
struct AudioBufferView {
    const float* samples = nullptr;
    std::size_t frameCount = 0; // samples per channel
    int channels = 0;
    int sampleRate = 0;
};

} // namespace TessaloyBase
