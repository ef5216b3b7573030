#include "connectwire/CandidateList.h"

#include "connectwire/ConnectWireError.h"
#include "connectwire/WireReader.h"
#include "core/Utf8.h"

#include <string_view>

namespace TessaloyConnectWire::CandidateList {

Bytes encoded(const std::vector<std::string>& candidates) {
    if (candidates.size() > maximumCount) throw ConnectWireError(ConnectWireError::tooLarge);
    Bytes bytes{static_cast<std::uint8_t>(candidates.size())};
    for (const std::string& candidate : candidates) {
        if (candidate.empty() || candidate.size() > maximumBytes || !TessaloyCore::isValidUtf8(candidate)) {
            throw ConnectWireError(ConnectWireError::malformed);
        }
        bytes.push_back(static_cast<std::uint8_t>(candidate.size()));
        bytes.insert(bytes.end(), candidate.begin(), candidate.end());
    }
    return bytes;
}

std::optional<Decoded<std::vector<std::string>>> decode(ByteView buffer) {
    WireReader reader(buffer);
    try {
        const std::size_t count = reader.u8();
        if (count > maximumCount) throw ConnectWireError(ConnectWireError::tooLarge);
        std::vector<std::string> candidates;
        candidates.reserve(count);
        for (std::size_t index = 0; index < count; ++index) {
            const std::size_t length = reader.u8();
            if (length == 0 || length > maximumBytes) throw ConnectWireError(ConnectWireError::malformed);
            const ByteView entry = reader.bytes(length);
            std::string text(entry.begin(), entry.end());
            if (!TessaloyCore::isValidUtf8(text)) throw ConnectWireError(ConnectWireError::malformed);
            candidates.push_back(std::move(text));
        }
        return Decoded<std::vector<std::string>>{std::move(candidates), reader.offset()};
    } catch (const WireReader::NeedMore&) {
        return std::nullopt;
    }
}

} // namespace TessaloyConnectWire::CandidateList
