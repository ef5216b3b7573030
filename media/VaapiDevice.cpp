#include "media/VaapiDevice.h"

#include "media/MediaError.h"

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/hwcontext.h>
}

#include <filesystem>
#include <system_error>

namespace TessaloyMedia {

VaapiDevice::VaapiDevice(const std::string& renderNode) {
    std::error_code error;
    if (renderNode.empty() || !std::filesystem::exists(renderNode, error)) {
        throw MediaError(MediaProblem::openFailed, "no render node at " + renderNode);
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "connection_type", "drm", 0);
    const DictionaryPtr ownedOptions(options);
    AVBufferRef* device = nullptr;
    const int status = av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, renderNode.c_str(), options, 0);
    device_.reset(device);
    if (status < 0) {
        throw MediaError(MediaProblem::openFailed, "cannot open " + renderNode + ": " + ffmpegErrorText(status));
    }
}

BufferRefPtr VaapiDevice::makeFrames(int width, int height) const {
    BufferRefPtr frames(av_hwframe_ctx_alloc(device_.get()));
    if (!frames) throw MediaError(MediaProblem::openFailed, "cannot allocate VAAPI surfaces");
    auto* context = reinterpret_cast<AVHWFramesContext*>(frames->data);
    context->format = AV_PIX_FMT_VAAPI;
    context->sw_format = AV_PIX_FMT_NV12;
    context->width = width;
    context->height = height;
    context->initial_pool_size = 8;
    if (const int status = av_hwframe_ctx_init(frames.get()); status < 0) {
        throw MediaError(MediaProblem::openFailed, "cannot create VAAPI surfaces: " + ffmpegErrorText(status));
    }
    return frames;
}

} // namespace TessaloyMedia
