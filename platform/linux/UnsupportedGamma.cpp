#include "platform/linux/UnsupportedGamma.h"

namespace Platform {

std::unique_ptr<Gamma> Gamma::create() { return std::make_unique<Linux::UnsupportedGamma>(); }

} // namespace Platform
