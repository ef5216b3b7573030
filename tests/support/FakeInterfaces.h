#pragma once

#include "platform/Interfaces.h"

#include <mutex>
#include <utility>

namespace Testing {

// The interfaces the test lists; counts how often they were asked for. Any thread.
class FakeInterfaces final : public Platform::Interfaces {
public:
    void setInterfaces(std::vector<Interface> interfaces) {
        std::lock_guard guard(lock_);
        interfaces_ = std::move(interfaces);
    }
    int listCount() const {
        std::lock_guard guard(lock_);
        return listCount_;
    }

    std::vector<Interface> list() const override {
        std::lock_guard guard(lock_);
        ++listCount_;
        return interfaces_;
    }

private:
    mutable std::mutex lock_;
    std::vector<Interface> interfaces_;
    mutable int listCount_ = 0;
};

} // namespace Testing
