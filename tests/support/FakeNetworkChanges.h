#pragma once

#include "platform/NetworkChanges.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Testing {

// Makes network watches that the test fires by hand, and counts the live ones. Any thread.
class FakeNetworkChanges {
public:
    std::unique_ptr<Platform::NetworkChanges> watch(Platform::NetworkChanges::Handler onChange) {
        auto handler = std::make_shared<Platform::NetworkChanges::Handler>(std::move(onChange));
        std::lock_guard guard(state_->lock);
        state_->handlers.push_back(handler);
        return std::make_unique<Watch>(state_, handler);
    }

    // Calls every live watch's handler, as a burst of changes would.
    void change() {
        std::vector<std::shared_ptr<Platform::NetworkChanges::Handler>> handlers;
        {
            std::lock_guard guard(state_->lock);
            handlers = state_->handlers;
        }
        for (const auto& handler : handlers) (*handler)();
    }

    std::size_t watching() const {
        std::lock_guard guard(state_->lock);
        return state_->handlers.size();
    }

private:
    struct State {
        mutable std::mutex lock;
        std::vector<std::shared_ptr<Platform::NetworkChanges::Handler>> handlers;
    };

    class Watch final : public Platform::NetworkChanges {
    public:
        Watch(std::shared_ptr<State> state, std::shared_ptr<Handler> handler)
            : state_(std::move(state)), handler_(std::move(handler)) {}
        ~Watch() override {
            std::lock_guard guard(state_->lock);
            std::erase(state_->handlers, handler_);
        }

    private:
        std::shared_ptr<State> state_;
        std::shared_ptr<Handler> handler_;
    };

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

} // namespace Testing
