#pragma once

#include <string_view>

namespace TessaloyMedia {

// FFmpeg prints its messages to standard error from whichever thread logs, and so stops that
// thread (an encoder's, say) while nobody reads standard error. Routed, its messages at warning
// level and above go to a sink instead, one line each, and the rest nowhere.
class FFmpegLog {
public:
    // Runs on FFmpeg's threads, so it must neither block nor throw.
    using Sink = void (*)(std::string_view line);

    static void routeTo(Sink sink);
};

} // namespace TessaloyMedia
