#include "platform/linux/UnsupportedLoginItems.h"

namespace Platform {

std::unique_ptr<LoginItems> LoginItems::create() { return std::make_unique<Linux::UnsupportedLoginItems>(); }

namespace Linux {

void UnsupportedLoginItems::registerItem(Item) { throw LoginItemsError(reason); }

void UnsupportedLoginItems::unregisterItem(Item) { throw LoginItemsError(reason); }

} // namespace Linux
} // namespace Platform
