#pragma once

#include <optional>

namespace Testing {

// The case of the `Error` that `call` throws, or nothing when it throws none.
template <typename Error, typename Call>
std::optional<typename Error::Case> problemOf(Call&& call) {
    try {
        call();
    } catch (const Error& error) {
        return error.value();
    }
    return std::nullopt;
}

} // namespace Testing
