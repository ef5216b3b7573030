// The field codecs of SessionMessage's nested types.
#include "core/ByteReader.h"
#include "core/FieldWriter.h"
#include "core/SessionMessage.h"

#include <limits>

namespace TessaloyCore {
namespace {

constexpr std::int64_t maximumDimension = std::numeric_limits<std::uint32_t>::max();

bool isValidDimension(std::int64_t value) { return value >= 0 && value <= maximumDimension; }

} // namespace

SessionMessage::PrivacyState SessionMessage::PrivacyState::read(ByteReader& reader) {
    PrivacyState state;
    state.blanksScreen = reader.boolean();
    state.locksLocalInput = reader.boolean();
    return state;
}

void SessionMessage::PrivacyState::write(FieldWriter& writer) const {
    writer.boolean(blanksScreen);
    writer.boolean(locksLocalInput);
}

SessionMessage::DisplayInfo SessionMessage::DisplayInfo::read(ByteReader& reader) {
    DisplayInfo display;
    display.id = reader.u32();
    display.width = reader.u32();
    display.height = reader.u32();
    display.isMain = reader.boolean();
    display.name = reader.textOfCharacters(maximumNameCharacters);
    return display;
}

void SessionMessage::DisplayInfo::write(FieldWriter& writer) const {
    FieldWriter::require(isValidDimension(width) && isValidDimension(height));
    writer.u32(id);
    writer.u32(static_cast<std::uint32_t>(width));
    writer.u32(static_cast<std::uint32_t>(height));
    writer.boolean(isMain);
    writer.textOfCharacters(name, maximumNameCharacters);
}

SessionMessage::PointerImage SessionMessage::PointerImage::read(ByteReader& reader) {
    PointerImage image;
    image.id = reader.u32();
    image.hotspotX = reader.f64();
    image.hotspotY = reader.f64();
    image.width = reader.f64();
    image.height = reader.f64();
    const ByteView png = reader.bytes(maximumPNGBytes);
    if (png.empty()) throw CodecError<ByteReader>(CodecProblem::invalidValue);
    image.png.assign(png.begin(), png.end());
    return image;
}

void SessionMessage::PointerImage::write(FieldWriter& writer) const {
    writer.u32(id);
    for (const double value : {hotspotX, hotspotY, width, height}) writer.f64(value);
    FieldWriter::require(!png.empty());
    writer.bytes(png, maximumPNGBytes);
}

SessionMessage::WakeTarget SessionMessage::WakeTarget::read(ByteReader& reader) {
    WakeTarget target;
    const ByteView address = reader.bytes(maximumHardwareAddressBytes);
    target.hardwareAddress.assign(address.begin(), address.end());
    target.ipv4Address = reader.text(maximumIPv4AddressBytes);
    return target;
}

void SessionMessage::WakeTarget::write(FieldWriter& writer) const {
    writer.bytes(hardwareAddress, maximumHardwareAddressBytes);
    writer.text(ipv4Address, maximumIPv4AddressBytes);
}

} // namespace TessaloyCore
