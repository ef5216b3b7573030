#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace TessaloyCore {

class ByteReader;
class FieldWriter;

// The updater's state as the device is told it, in the `updateStatus` session message.
struct UpdateStatus {
    enum class State : std::uint8_t {
        checking = 1,
        upToDate = 2,
        downloading = 3,
        verifying = 4,
        installing = 5,
        failed = 6,
        notAllowed = 7,
    };

    static constexpr std::size_t maximumDetailBytes = 1'024;

    State state = State::checking;
    // A sentence for the user, present only with some failed states.
    std::optional<std::string> detail;

    // u8 state, bool hasDetail, then str(maximumDetailBytes) detail when present. Throws
    // CodecError<ByteReader>.
    static UpdateStatus read(ByteReader& reader);
    // Throws CodecError<FieldWriter>.
    void write(FieldWriter& writer) const;

    friend bool operator==(const UpdateStatus&, const UpdateStatus&) = default;
};

// The case name, as in "upToDate".
const char* nameOf(UpdateStatus::State state) noexcept;

} // namespace TessaloyCore
