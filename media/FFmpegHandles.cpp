#include "media/FFmpegHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/buffer.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <array>

namespace TessaloyMedia {

void CodecContextDeleter::operator()(AVCodecContext* context) const noexcept { avcodec_free_context(&context); }
void FrameDeleter::operator()(AVFrame* frame) const noexcept { av_frame_free(&frame); }
void PacketDeleter::operator()(AVPacket* packet) const noexcept { av_packet_free(&packet); }
void SwrContextDeleter::operator()(SwrContext* context) const noexcept { swr_free(&context); }
void BufferRefDeleter::operator()(AVBufferRef* buffer) const noexcept { av_buffer_unref(&buffer); }
void DictionaryDeleter::operator()(AVDictionary* dictionary) const noexcept { av_dict_free(&dictionary); }
void AudioFifoDeleter::operator()(AVAudioFifo* fifo) const noexcept { av_audio_fifo_free(fifo); }

std::string ffmpegErrorText(int code) {
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    if (av_strerror(code, text.data(), text.size()) < 0) return "error " + std::to_string(code);
    return text.data();
}

} // namespace TessaloyMedia
