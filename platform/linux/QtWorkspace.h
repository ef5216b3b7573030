#pragma once

#include "platform/Workspace.h"

namespace Platform::Linux {

// The desktop's handlers through Qt, which asks xdg-open or the desktop portal. A file is shown by
// opening its folder: there is no common way to select it there.
class QtWorkspace final : public Workspace {
public:
    bool open(const std::string& url) override;
    bool reveal(const std::filesystem::path& file) override;
};

} // namespace Platform::Linux
