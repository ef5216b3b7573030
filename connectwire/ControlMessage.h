#pragma once

#include "connectwire/ConnectChannel.h"
#include "connectwire/ConnectProtocol.h"
#include "connectwire/Decoded.h"

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace TessaloyConnectWire {

// One frame of the control connection: a u16 length, a type byte and the type's body.
class ControlMessage {
public:
    struct Register {
        std::uint8_t version = ConnectProtocol::version;
        std::vector<Bytes> meetingIDs;
        friend bool operator==(const Register&, const Register&) = default;
    };
    struct Incoming {
        Bytes sessionID;
        Bytes meetingID;
        ConnectChannel channel = ConnectChannel::media;
        friend bool operator==(const Incoming&, const Incoming&) = default;
    };
    struct Refused {
        std::uint8_t code = 0;
        friend bool operator==(const Refused&, const Refused&) = default;
    };
    struct Candidates {
        std::vector<std::string> candidates;
        friend bool operator==(const Candidates&, const Candidates&) = default;
    };
    struct Unknown {
        std::uint8_t type = 0;
        friend bool operator==(const Unknown&, const Unknown&) = default;
    };
    struct Ping {
        friend bool operator==(const Ping&, const Ping&) = default;
    };
    struct Pong {
        friend bool operator==(const Pong&, const Pong&) = default;
    };
    using Value = std::variant<Register, Incoming, Refused, Candidates, Unknown, Ping, Pong>;

    template <typename Case>
    requires std::constructible_from<Value, Case> ControlMessage(Case value) : value_(std::move(value)) {}

    const Value& value() const noexcept { return value_; }
    template <typename Case>
    const Case* as() const noexcept {
        return std::get_if<Case>(&value_);
    }

    // One whole frame; throws malformed for identifiers of the wrong length or more than 64 of them.
    Bytes encoded() const;
    // The first frame of the buffer and its length; no value while it is incomplete.
    static std::optional<Decoded<ControlMessage>> decode(ByteView buffer);

    friend bool operator==(const ControlMessage&, const ControlMessage&) = default;

private:
    Value value_;
};

} // namespace TessaloyConnectWire
