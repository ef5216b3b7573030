#include "media/AnnexB.h"

#include <array>

namespace TessaloyMedia {
namespace {

using TessaloyCore::ByteView;
using TessaloyCore::VideoCodec;

// H.264 nal_unit_type values.
constexpr int h264Idr = 5;
constexpr int h264Sei = 6;
constexpr int h264Sps = 7;
constexpr int h264Pps = 8;
constexpr int h264Aud = 9;

// HEVC nal_unit_type values; 16 to 23 are the random-access (IRAP) pictures.
constexpr int hevcFirstIrap = 16;
constexpr int hevcLastIrap = 23;
constexpr int hevcVps = 32;
constexpr int hevcSps = 33;
constexpr int hevcPps = 34;
constexpr int hevcAud = 35;
constexpr int hevcPrefixSei = 39;
constexpr int hevcSuffixSei = 40;

int nalUnitType(VideoCodec codec, ByteView unit) {
    if (unit.empty()) return -1;
    return codec == VideoCodec::hevc ? (unit[0] >> 1) & 0x3F : unit[0] & 0x1F;
}

ByteView withoutTrailingZeros(ByteView unit) {
    std::size_t size = unit.size();
    while (size > 0 && unit[size - 1] == 0) --size;
    return unit.first(size);
}

} // namespace

std::vector<ByteView> splitAnnexB(ByteView stream) {
    std::vector<ByteView> units;
    const std::size_t size = stream.size();
    std::size_t unitStart = 0;
    bool inUnit = false;
    std::size_t i = 0;
    while (i + 3 <= size) {
        if (stream[i + 2] > 1) {
            i += 3;
        } else if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            if (inUnit) {
                const ByteView unit = withoutTrailingZeros(stream.subspan(unitStart, i - unitStart));
                if (!unit.empty()) units.push_back(unit);
            }
            inUnit = true;
            unitStart = i + 3;
            i += 3;
        } else {
            ++i;
        }
    }
    if (inUnit) {
        const ByteView unit = withoutTrailingZeros(stream.subspan(unitStart));
        if (!unit.empty()) units.push_back(unit);
    }
    return units;
}

void appendAnnexB(TessaloyCore::Bytes& stream, ByteView nalUnit) {
    constexpr std::array<std::uint8_t, 4> startCode{0, 0, 0, 1};
    stream.insert(stream.end(), startCode.begin(), startCode.end());
    stream.insert(stream.end(), nalUnit.begin(), nalUnit.end());
}

NalUnitRole nalUnitRole(VideoCodec codec, ByteView nalUnit) {
    const int type = nalUnitType(codec, nalUnit);
    if (codec == VideoCodec::hevc) {
        if (type == hevcVps || type == hevcSps || type == hevcPps) return NalUnitRole::parameterSet;
        if (type == hevcAud || type == hevcPrefixSei || type == hevcSuffixSei) return NalUnitRole::discardable;
        if (type >= hevcFirstIrap && type <= hevcLastIrap) return NalUnitRole::keyframePicture;
        return NalUnitRole::picture;
    }
    if (type == h264Sps || type == h264Pps) return NalUnitRole::parameterSet;
    if (type == h264Sei || type == h264Aud) return NalUnitRole::discardable;
    if (type == h264Idr) return NalUnitRole::keyframePicture;
    return NalUnitRole::picture;
}

std::size_t parameterSetIndex(VideoCodec codec, ByteView nalUnit) {
    const int type = nalUnitType(codec, nalUnit);
    if (codec == VideoCodec::hevc) return type == hevcVps ? 0 : type == hevcSps ? 1 : 2;
    return type == h264Sps ? 0 : 1;
}

std::size_t parameterSetCount(VideoCodec codec) { return codec == VideoCodec::hevc ? 3 : 2; }

} // namespace TessaloyMedia
