#pragma once

#include <functional>
#include <memory>
#include <string>

namespace Platform {

// A watch on this computer's network: its links, addresses and routes. Watching starts when it is
// made and ends when it is destroyed.
class NetworkChanges {
public:
    using Handler = std::function<void()>;

    // Calls `onChange` once for each burst of changes, on a thread of its own, never after the watch
    // is destroyed (which must not happen inside `onChange`). Nothing, and `whyNot` says why, when the
    // network cannot be watched.
    static std::unique_ptr<NetworkChanges> create(Handler onChange, std::string* whyNot);

    virtual ~NetworkChanges() = default;
};

} // namespace Platform
