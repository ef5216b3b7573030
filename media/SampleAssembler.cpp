#include "media/SampleAssembler.h"

#include "media/AnnexB.h"
#include "media/MediaError.h"

namespace TessaloyMedia {

void SampleAssembler::configure(const TessaloyCore::VideoConfiguration& configuration) {
    if (configuration_ == configuration) return;
    configuration_.reset();
    awaitingKeyframe_ = true;
    const std::size_t expected = parameterSetCount(configuration.codec);
    bool complete = configuration.parameterSets.size() == expected;
    for (std::size_t index = 0; complete && index < expected; ++index) {
        const TessaloyCore::Bytes& set = configuration.parameterSets[index];
        complete = !set.empty() && nalUnitRole(configuration.codec, set) == NalUnitRole::parameterSet &&
                   parameterSetIndex(configuration.codec, set) == index;
    }
    if (!complete) {
        throw MediaError(MediaProblem::invalidInput,
                         std::string("configuration without the parameter sets of ") + nameOf(configuration.codec));
    }
    configuration_ = configuration;
}

SampleAssembler::Result SampleAssembler::assemble(const TessaloyCore::VideoFrame& frame) {
    if (!configuration_) return Drop::noConfiguration;
    if (frame.streamGeneration != configuration_->streamGeneration) return Drop::otherGeneration;
    if (frame.nalUnits.empty()) return Drop::empty;
    if (awaitingKeyframe_ && !frame.isKeyframe) return Drop::awaitingKeyframe;
    awaitingKeyframe_ = false;

    AccessUnit unit;
    unit.codec = configuration_->codec;
    unit.streamGeneration = frame.streamGeneration;
    unit.isKeyframe = frame.isKeyframe;
    unit.isRefinement = frame.isRefinement;
    unit.presentationMicroseconds = frame.presentationMicroseconds;
    std::size_t size = 0;
    if (frame.isKeyframe) {
        for (const TessaloyCore::Bytes& set : configuration_->parameterSets) size += 4 + set.size();
    }
    for (const TessaloyCore::Bytes& nalUnit : frame.nalUnits) size += 4 + nalUnit.size();
    unit.annexB.reserve(size);
    if (frame.isKeyframe) {
        for (const TessaloyCore::Bytes& set : configuration_->parameterSets) appendAnnexB(unit.annexB, set);
    }
    for (const TessaloyCore::Bytes& nalUnit : frame.nalUnits) appendAnnexB(unit.annexB, nalUnit);
    return unit;
}

const char* nameOf(SampleAssembler::Drop drop) noexcept {
    switch (drop) {
        case SampleAssembler::Drop::noConfiguration:
            return "noConfiguration";
        case SampleAssembler::Drop::otherGeneration:
            return "otherGeneration";
        case SampleAssembler::Drop::awaitingKeyframe:
            return "awaitingKeyframe";
        case SampleAssembler::Drop::empty:
            return "empty";
    }
    return "unknown";
}

} // namespace TessaloyMedia
