#pragma once

#include "platform/LoginItems.h"

namespace Platform::Linux {

// Login items on a desktop where this build registers none: nothing is found, and every change is
// refused with a LoginItemsError.
class UnsupportedLoginItems final : public LoginItems {
public:
    static constexpr const char* reason = "starting at login is not available on this desktop";

    Status status(Item) override { return Status::notFound; }
    void registerItem(Item) override;
    void unregisterItem(Item) override;
};

} // namespace Platform::Linux
