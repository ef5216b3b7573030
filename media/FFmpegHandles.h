#pragma once

#include <memory>
#include <string>

struct AVAudioFifo;
struct AVBufferRef;
struct AVCodecContext;
struct AVDictionary;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace TessaloyMedia {

// Owners of FFmpeg objects, so every path (including a throw halfway through set-up) frees them.
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const noexcept;
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const noexcept;
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const noexcept;
};
struct SwrContextDeleter {
    void operator()(SwrContext* context) const noexcept;
};
struct BufferRefDeleter {
    void operator()(AVBufferRef* buffer) const noexcept;
};
struct DictionaryDeleter {
    void operator()(AVDictionary* dictionary) const noexcept;
};
struct AudioFifoDeleter {
    void operator()(AVAudioFifo* fifo) const noexcept;
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;
using BufferRefPtr = std::unique_ptr<AVBufferRef, BufferRefDeleter>;
using DictionaryPtr = std::unique_ptr<AVDictionary, DictionaryDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

// FFmpeg's description of an AVERROR code, as in "Invalid argument".
std::string ffmpegErrorText(int code);

} // namespace TessaloyMedia
