#pragma once

#include "core/Bytes.h"
#include "core/VideoCodec.h"
#include "core/VideoConfiguration.h"
#include "core/VideoFrame.h"

#include <cstdint>
#include <optional>
#include <variant>

namespace TessaloyMedia {

// Device side: turns the stream's configuration and length-prefixed frames into access units a
// decoder takes (Annex-B, with the parameter sets before each keyframe), following the stream
// generation. A plain value, confined to its caller's queue.
class SampleAssembler {
public:
    struct AccessUnit {
        TessaloyCore::VideoCodec codec = TessaloyCore::VideoCodec::h264;
        std::uint32_t streamGeneration = 0;
        bool isKeyframe = false;
        bool isRefinement = false;
        std::uint64_t presentationMicroseconds = 0;
        TessaloyCore::Bytes annexB;
    };

    // Why a frame gave no access unit: no configuration yet, a frame of another generation, a frame
    // before the first keyframe of the configuration, or a frame without NAL units.
    enum class Drop { noConfiguration, otherGeneration, awaitingKeyframe, empty };

    using Result = std::variant<AccessUnit, Drop>;

    // A configuration of another generation or with other parameter sets replaces the current one,
    // and frames are dropped until its first keyframe; the same configuration again changes
    // nothing. Throws MediaError invalidInput (and forgets the current one) when the configuration
    // lacks a parameter set of its codec.
    void configure(const TessaloyCore::VideoConfiguration& configuration);

    Result assemble(const TessaloyCore::VideoFrame& frame);

    const std::optional<TessaloyCore::VideoConfiguration>& configuration() const { return configuration_; }

private:
    std::optional<TessaloyCore::VideoConfiguration> configuration_;
    bool awaitingKeyframe_ = true;
};

const char* nameOf(SampleAssembler::Drop drop) noexcept;

} // namespace TessaloyMedia
