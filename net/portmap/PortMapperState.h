#pragma once

#include "net/portmap/PortMapping.h"

#include <string>
#include <variant>

namespace TessaloyNet {

// What the port mapper last reported.
struct PortMapperState {
    struct Idle { // not running
        friend bool operator==(const Idle&, const Idle&) = default;
    };
    struct Mapping { // an attempt is asked for or under way, and nothing is mapped yet
        friend bool operator==(const Mapping&, const Mapping&) = default;
    };
    struct Mapped {
        PortMapping mapping;
        friend bool operator==(const Mapped&, const Mapped&) = default;
    };
    struct Unavailable {
        std::string reason; // the user-facing reason of the last failure
        friend bool operator==(const Unavailable&, const Unavailable&) = default;
    };
    using Value = std::variant<Idle, Mapping, Mapped, Unavailable>;

    Value value;

    static PortMapperState idle() { return {Idle{}}; }
    static PortMapperState mapping() { return {Mapping{}}; }
    static PortMapperState mapped(PortMapping mapping) { return {Mapped{std::move(mapping)}}; }
    static PortMapperState unavailable(std::string reason) { return {Unavailable{std::move(reason)}}; }

    friend bool operator==(const PortMapperState&, const PortMapperState&) = default;
};

} // namespace TessaloyNet
