#include "connectwire/ConnectWireError.h"

namespace TessaloyConnectWire {

ConnectWireError ConnectWireError::unsupported(std::uint8_t version) noexcept {
    ConnectWireError error(unsupportedVersion);
    error.version_ = version;
    return error;
}

const char* ConnectWireError::caseName() const noexcept {
    switch (value_) {
        case unsupportedVersion:
            return "unsupportedVersion";
        case badMagic:
            return "badMagic";
        case malformed:
            return "malformed";
        case tooLarge:
            return "tooLarge";
    }
    return "unknown";
}

std::string ConnectWireError::description() const {
    switch (value_) {
        case unsupportedVersion:
            return "The relay spoke an unsupported protocol version (" + std::to_string(version_) + ").";
        case badMagic:
            return "The relay data did not start as expected.";
        case malformed:
            return "The relay data was malformed.";
        case tooLarge:
            return "The relay data was too large.";
    }
    return "The relay data could not be read.";
}

} // namespace TessaloyConnectWire
