#include "tests/support/FakeLoginItems.h"

namespace Testing {

Platform::LoginItems::Status FakeLoginItems::status(Item item) {
    const auto found = statuses.find(item);
    return found == statuses.end() ? Status::notRegistered : found->second;
}

void FakeLoginItems::registerItem(Item item) {
    changes.push_back({true, item});
    if (failWith) throw Platform::LoginItemsError(*failWith);
    statuses[item] = needsApproval ? Status::requiresApproval : Status::enabled;
}

void FakeLoginItems::unregisterItem(Item item) {
    changes.push_back({false, item});
    if (failWith) throw Platform::LoginItemsError(*failWith);
    statuses[item] = Status::notRegistered;
}

} // namespace Testing
