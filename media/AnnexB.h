#pragma once

#include "core/Bytes.h"
#include "core/VideoCodec.h"

#include <cstddef>
#include <vector>

namespace TessaloyMedia {

// What a NAL unit is to the stream sent to the device: a parameter set (carried by the
// configuration), something a decoder does without (SEI, access unit delimiter), the picture data
// of a random-access point (IDR, or any IRAP picture in HEVC), or any other unit kept in frames.
enum class NalUnitRole { parameterSet, discardable, keyframePicture, picture };

// The NAL units of an Annex-B byte stream, as views into it without start codes or trailing zero
// bytes. Bytes before the first start code and empty units are skipped.
std::vector<TessaloyCore::ByteView> splitAnnexB(TessaloyCore::ByteView stream);

// Appends a 4-byte start code and the unit.
void appendAnnexB(TessaloyCore::Bytes& stream, TessaloyCore::ByteView nalUnit);

NalUnitRole nalUnitRole(TessaloyCore::VideoCodec codec, TessaloyCore::ByteView nalUnit);

// A parameter set's place in a configuration: SPS 0 and PPS 1 for H.264; VPS 0, SPS 1 and PPS 2
// for HEVC. Only for units whose role is parameterSet.
std::size_t parameterSetIndex(TessaloyCore::VideoCodec codec, TessaloyCore::ByteView nalUnit);

// 2 for H.264 (SPS, PPS), 3 for HEVC (VPS, SPS, PPS).
std::size_t parameterSetCount(TessaloyCore::VideoCodec codec);

} // namespace TessaloyMedia
