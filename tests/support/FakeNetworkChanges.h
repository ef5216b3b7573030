#pragma once

#include "platform/NetworkChanges.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Testing {

// Makes network watches that the test fires by hand. Any thread.
class FakeNetworkChanges {
public:
    using Handler = Platform::NetworkChanges::Handler;

    std::unique_ptr<Platform::NetworkChanges> watch(Handler onChange) {
        auto watch = std::make_unique<Watch>(std::make_shared<Handler>(std::move(onChange)));
        std::lock_guard guard(lock_);
        handlers_.push_back(watch->handler);
        return watch;
    }

    // Calls every live watch's handler, as a burst of changes would.
    void change() {
        for (const auto& handler : live()) (*handler)();
    }

private:
    // A watch owns its handler; this fake only looks at it, so a watch may outlive the fake.
    struct Watch final : Platform::NetworkChanges {
        explicit Watch(std::shared_ptr<Handler> handler) : handler(std::move(handler)) {}
        std::shared_ptr<Handler> handler;
    };

    std::vector<std::shared_ptr<Handler>> live() const {
        std::vector<std::shared_ptr<Handler>> handlers;
        std::lock_guard guard(lock_);
        for (const auto& handler : handlers_) {
            if (auto alive = handler.lock()) handlers.push_back(std::move(alive));
        }
        return handlers;
    }

    mutable std::mutex lock_;
    std::vector<std::weak_ptr<Handler>> handlers_;
};

} // namespace Testing
