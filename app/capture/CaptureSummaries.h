#pragma once

#include "app/capture/CaptureEncodingOutput.h"

#include <optional>
#include <string>

namespace Plovander {

// The one-line summaries of one statistics report, in the formats CaptureProbe documents; the
// send queue and round trip only when the report carries them.
struct CaptureSummaries {
    std::string capture;
    std::string encode;
    std::optional<std::string> queue;
    std::optional<std::string> roundTrip;

    // `displayWidth` by `displayHeight` is the size of the display being captured.
    static CaptureSummaries of(const CaptureEncodingOutput::Statistics& statistics, int displayWidth,
                               int displayHeight);
    // "1280x720"
    static std::string size(int width, int height);

    friend bool operator==(const CaptureSummaries&, const CaptureSummaries&) = default;
};

} // namespace Plovander
