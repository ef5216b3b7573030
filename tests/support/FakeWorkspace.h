#pragma once

#include "platform/Workspace.h"

#include <vector>

namespace Testing {

// Opens nothing: records every link opened and file revealed, and answers `accepts`.
class FakeWorkspace final : public Platform::Workspace {
public:
    bool accepts = true;
    std::vector<std::string> opened;
    std::vector<std::filesystem::path> revealed;

    bool open(const std::string& url) override {
        opened.push_back(url);
        return accepts;
    }
    bool reveal(const std::filesystem::path& file) override {
        revealed.push_back(file);
        return accepts;
    }
};

} // namespace Testing
