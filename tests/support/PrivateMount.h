#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace Testing {

// mount(2) of `source` on `at` that only the calling thread sees: it first goes into a mount
// namespace of its own whose mounts reach no other, so nothing shows on the host. Unmounted when
// it goes. Mounting needs root; where it is refused, `problem` says why.
struct PrivateMount {
    PrivateMount(const char* source, const std::filesystem::path& at, const char* type, unsigned long flags,
                 const std::string& options = {});
    ~PrivateMount();
    PrivateMount(const PrivateMount&) = delete;
    PrivateMount& operator=(const PrivateMount&) = delete;

    const std::filesystem::path at;
    std::optional<std::string> problem;
};

} // namespace Testing
