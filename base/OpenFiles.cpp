#include "base/OpenFiles.h"

#include <dirent.h>
#include <sys/resource.h>

#include <cerrno>
#include <climits>

namespace TessaloyBase {

int OpenFiles::available() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= INT_MAX) return INT_MAX;
    DIR* const open = ::opendir("/proc/self/fd");
    // Without a descriptor to read the list with, none is left; without the list, nothing is known.
    if (!open) return errno == EMFILE || errno == ENFILE ? 0 : INT_MAX;
    // The list's own descriptor is in it.
    int count = -1;
    while (const dirent* entry = ::readdir(open)) {
        if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(open);
    return static_cast<int>(limit.rlim_cur) - count;
}

} // namespace TessaloyBase
