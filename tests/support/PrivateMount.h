#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace Testing {

// A mount on `at` that only the calling thread sees: it goes into a mount namespace of its own
// (whose mounts reach no other), so nothing shows on the host. Unmounted when it goes. Mounting
// needs root; where it is refused, `problem()` says why.
class PrivateMount {
public:
    // A tmpfs that holds at most `bytes`, open to all.
    PrivateMount(const std::filesystem::path& at, std::size_t bytes);
    // `source` bound on `at`.
    PrivateMount(const std::filesystem::path& source, const std::filesystem::path& at);
    ~PrivateMount();
    PrivateMount(const PrivateMount&) = delete;
    PrivateMount& operator=(const PrivateMount&) = delete;

    const std::optional<std::string>& problem() const { return problem_; }

private:
    PrivateMount(const std::filesystem::path& at, const char* source, const char* type, unsigned long flags,
                 const std::string& options);

    std::filesystem::path at_;
    std::optional<std::string> problem_;
};

} // namespace Testing
