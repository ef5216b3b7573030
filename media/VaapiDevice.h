#pragma once

#include "media/FFmpegHandles.h"

#include <string>

namespace TessaloyMedia {

// An open VAAPI render node for the hardware encoders, and the surfaces they read.
class VaapiDevice {
public:
    // Opens the DRM render node (never an X display). Throws MediaError openFailed with the reason
    // when the node is missing or refuses.
    explicit VaapiDevice(const std::string& renderNode);

    // A pool of NV12 surfaces of the size, to be an encoder's hw_frames_ctx. Throws openFailed.
    BufferRefPtr makeFrames(int width, int height) const;

private:
    BufferRefPtr device_;
};

} // namespace TessaloyMedia
