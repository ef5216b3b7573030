#include "app/services/RouterPort.h"

namespace Plovander {

std::optional<std::string> RouterPort::statusText(const State& state) {
    switch (state.kind) {
        case State::Kind::mapped:
            return "router port open (" + state.method + ")";
        case State::Kind::unavailable:
            return state.reason;
        case State::Kind::mapping:
            return "asking the router…";
        case State::Kind::idle:
            break;
    }
    return std::nullopt;
}

} // namespace Plovander
