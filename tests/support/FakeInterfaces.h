#pragma once

#include "platform/Interfaces.h"

#include <mutex>
#include <utility>

namespace Testing {

// The interfaces the test lists; counts how often they were asked for. Any thread.
class FakeInterfaces final : public Platform::Interfaces {
public:
    // An up and running link holding `addresses`, numeric texts whose form tells their family.
    static Interface link(std::string name, Kind kind, std::vector<std::string> addresses,
                          std::optional<HardwareAddress> hardware = std::nullopt) {
        Interface entry;
        entry.name = std::move(name);
        entry.kind = kind;
        entry.isUp = entry.isRunning = true;
        entry.hardwareAddress = hardware;
        for (auto& text : addresses) {
            const auto family = text.find(':') == std::string::npos ? Address::Family::ipv4 : Address::Family::ipv6;
            entry.addresses.push_back({family, std::move(text), {}});
        }
        return entry;
    }

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
