#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace Platform {

// The desktop's handlers for links and files. Main thread only.
class Workspace {
public:
    static std::unique_ptr<Workspace> create();

    virtual ~Workspace() = default;

    // Opens `url` with the desktop's handler for it; returns whether one took it.
    virtual bool open(const std::string& url) = 0;
    // Shows `file` in the file manager; returns whether one took it.
    virtual bool reveal(const std::filesystem::path& file) = 0;
};

} // namespace Platform
