#pragma once

#include <filesystem>

namespace Platform {

// Where the application keeps this user's files.
struct UserFolders {
    // For the life of the login session: locks and sockets.
    static std::filesystem::path runtime();
    // Kept across launches but not worth backing up: the trace.
    static std::filesystem::path state();
    // Creates `folder` and any missing parents, readable by this user only. Throws
    // std::system_error.
    static void ensurePrivate(const std::filesystem::path& folder);
};

} // namespace Platform
