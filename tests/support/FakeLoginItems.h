#pragma once

#include "platform/LoginItems.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Testing {

// Login items in memory: `statuses` is what the system reports (notRegistered when absent), a
// registration makes an item enabled (or requiresApproval when `needsApproval`), and every change is
// recorded. While `failWith` is set, changes throw LoginItemsError with it and change nothing.
class FakeLoginItems final : public Platform::LoginItems {
public:
    struct Change {
        bool registers = false;
        Item item = Item::agent;
        friend bool operator==(const Change&, const Change&) = default;
    };

    std::map<Item, Status> statuses;
    bool needsApproval = false;
    std::optional<std::string> failWith;
    std::vector<Change> changes;
    std::filesystem::path runningProgram = "/opt/plovander/bin/plovander";

    Status status(Item item) override;
    void registerItem(Item item) override;
    void unregisterItem(Item item) override;
    std::filesystem::path program() const override { return runningProgram; }
};

} // namespace Testing
