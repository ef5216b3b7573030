#include "platform/UserFolders.h"

#include "platform/linux/PrivateFiles.h"
#include "platform/linux/XdgDirectories.h"

namespace Platform {

std::filesystem::path UserFolders::runtime() { return Linux::XdgDirectories::runtimeDir() / "tessaloy"; }

std::filesystem::path UserFolders::state() { return Linux::XdgDirectories::stateHome() / "tessaloy"; }

void UserFolders::ensurePrivate(const std::filesystem::path& folder) { Linux::PrivateFiles::ensureDirectory(folder); }

} // namespace Platform
