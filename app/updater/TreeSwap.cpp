#include "app/updater/TreeSwap.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace Plovander {

TreeSwap::Renames TreeSwap::Renames::system() {
    return {
        [](const std::filesystem::path& from, const std::filesystem::path& to) {
            return static_cast<int>(
                ::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE));
        },
        [](const std::filesystem::path& from, const std::filesystem::path& to) {
            return ::rename(from.c_str(), to.c_str());
        },
    };
}

void TreeSwap::replace(const std::filesystem::path& installed, const std::filesystem::path& staged,
                       const Renames& renames) {
    if (renames.exchange(staged, installed) == 0) return;
    const int exchangeError = errno;
    if (exchangeError != EINVAL && exchangeError != ENOSYS && exchangeError != EOPNOTSUPP) {
        throw std::system_error(exchangeError, std::generic_category(), "exchange");
    }
    // The old tree steps aside beside the staged one, and comes back if the new one cannot follow.
    const std::filesystem::path aside = staged.parent_path() / (staged.filename().string() + ".old");
    if (renames.rename(installed, aside) != 0) throw std::system_error(errno, std::generic_category(), "rename");
    if (renames.rename(staged, installed) != 0) {
        const int error = errno;
        renames.rename(aside, installed);
        throw std::system_error(error, std::generic_category(), "rename");
    }
    renames.rename(aside, staged);
}

} // namespace Plovander
