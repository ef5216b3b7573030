#include "media/FFmpegLog.h"

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <cstdarg>

namespace TessaloyMedia {
namespace {

std::atomic<FFmpegLog::Sink> routedSink{nullptr};

extern "C" void forward(void* context, int level, const char* format, std::va_list arguments) {
    const FFmpegLog::Sink sink = routedSink.load();
    // The bits above the level's own byte choose a colour.
    if (!sink || (level & 0xff) > AV_LOG_WARNING) return;
    char text[1024];
    // Each call is a line of its own, prefixed with the context's name.
    int printPrefix = 1;
    if (av_log_format_line2(context, level, format, arguments, text, sizeof text, &printPrefix) < 0) return;
    std::string_view line(text);
    while (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty()) sink(line);
}

} // namespace

void FFmpegLog::routeTo(Sink sink) {
    routedSink = sink;
    av_log_set_callback(forward);
}

} // namespace TessaloyMedia
