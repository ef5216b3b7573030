#pragma once

#include <filesystem>
#include <functional>

namespace Plovander {

// Puts a staged install tree in place of the installed one so that a working tree is always there:
// one atomic exchange where the file system offers it, else two renames with a rollback.
struct TreeSwap {
    // renameat2(RENAME_EXCHANGE) and rename(2), replaceable to test the way without an exchange.
    struct Renames {
        std::function<int(const std::filesystem::path&, const std::filesystem::path&)> exchange;
        std::function<int(const std::filesystem::path&, const std::filesystem::path&)> rename;
        static Renames system();
    };

    // Afterwards `installed` holds the new tree and `staged` the old one, which goes with the work
    // folder. Throws std::system_error with the installed tree unchanged when the swap fails.
    static void replace(const std::filesystem::path& installed, const std::filesystem::path& staged,
                        const Renames& renames = Renames::system());
};

} // namespace Plovander
