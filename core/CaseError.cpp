#include "core/CaseError.h"

namespace TessaloyCore {

std::string describe(const std::exception& error) {
    if (const auto* described = dynamic_cast<const DescribedError*>(&error)) return described->description();
    return error.what();
}

} // namespace TessaloyCore
