#include "core/UpdateStatus.h"

#include "core/ByteReader.h"
#include "core/FieldWriter.h"

namespace TessaloyCore {
namespace {

bool isValidState(std::uint8_t byte) { return byte >= 1 && byte <= 7; }

} // namespace

const char* nameOf(UpdateStatus::State state) noexcept {
    switch (state) {
        case UpdateStatus::State::checking:
            return "checking";
        case UpdateStatus::State::upToDate:
            return "upToDate";
        case UpdateStatus::State::downloading:
            return "downloading";
        case UpdateStatus::State::verifying:
            return "verifying";
        case UpdateStatus::State::installing:
            return "installing";
        case UpdateStatus::State::failed:
            return "failed";
        case UpdateStatus::State::notAllowed:
            return "notAllowed";
    }
    return "unknown";
}

UpdateStatus UpdateStatus::read(ByteReader& reader) {
    UpdateStatus status;
    const std::uint8_t state = reader.u8();
    if (!isValidState(state)) throw CodecError<ByteReader>(CodecProblem::invalidValue);
    status.state = static_cast<State>(state);
    if (reader.boolean()) status.detail = reader.text(maximumDetailBytes);
    return status;
}

void UpdateStatus::write(FieldWriter& writer) const {
    FieldWriter::require(isValidState(static_cast<std::uint8_t>(state)));
    writer.u8(static_cast<std::uint8_t>(state));
    writer.boolean(detail.has_value());
    if (detail) writer.text(*detail, maximumDetailBytes);
}

} // namespace TessaloyCore
