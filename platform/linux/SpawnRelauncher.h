#pragma once

#include "platform/Relauncher.h"

namespace Platform {

// posix_spawn with a pipe on descriptor 3 that the new copy writes one byte on once it runs.
class SpawnRelauncher final : public Relauncher {
public:
    // The environment variable that names the ready descriptor to the new copy.
    static constexpr const char* readyVariable = "PLOVANDER_READY_FD";

    Result start(const std::filesystem::path& program, std::chrono::milliseconds wait) override;
};

} // namespace Platform
