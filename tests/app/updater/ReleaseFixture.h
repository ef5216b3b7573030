#pragma once

#include "app/updater/UpdateStaging.h"
#include "app/updater/release/ReleaseBuilder.h"
#include "app/updater/release/ReleaseKeys.h"
#include "app/updater/release/ReleaseSignature.h"
#include "core/ReleaseManifest.h"
#include "tests/support/TemporaryDirectory.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace Testing {

// Per-run publisher and notary keys, and signed releases of a tiny install tree made with them.
class ReleaseFixture {
public:
    struct TreeOptions {
        std::string name = "Plovander.app";
        std::string build = "2";
        std::string identifier = std::string(Plovander::ReleaseSignature::identifier);
    };

    Plovander::SigningKey publisher = Plovander::SigningKey::generate();
    Plovander::SigningKey notary = Plovander::SigningKey::generate();
    TemporaryDirectory folder;

    Plovander::TrustedKeys trusted() const { return {publisher.publicKey(), notary.publicKey()}; }
    Plovander::UpdateStaging::Rules rules(std::int64_t currentBuild = 1) const {
        return {trusted(), Plovander::ReleaseSignature::machineArchitecture(), currentBuild};
    }

    // An unsigned tree below `parent`, holding a program that, started as an update, writes its
    // build and arguments beside the tree and then its ready byte.
    static std::filesystem::path makeTree(const std::filesystem::path& parent, const TreeOptions& options) {
        const auto tree = parent / options.name;
        std::filesystem::create_directories(tree / "bin");
        writeFile(tree / "bin/plovander", "#!/bin/sh\necho \"" + options.build +
                                              " $1 $2\" > \"$(dirname \"$0\")/../../started\"\nprintf 1 >&3\n");
        std::filesystem::permissions(tree / "bin/plovander", std::filesystem::perms::owner_exec,
                                     std::filesystem::perm_options::add);
        std::filesystem::create_symlink("bin/plovander", tree / "launcher");
        writeFile(tree / "Info.json", R"({"CFBundleIdentifier": ")" + options.identifier +
                                          R"(", "CFBundleShortVersionString": "1.)" + options.build +
                                          R"(", "CFBundleVersion": ")" + options.build + R"("})");
        return tree;
    }

    // Signs and packs the tree into `archive`; the manifest names `url`.
    TessaloyCore::ReleaseManifest release(const std::filesystem::path& tree, const std::filesystem::path& archive,
                                          const std::string& url = "https://" + TessaloyCore::ReleaseManifest::host() +
                                                                   "/plovander/Plovander-2.tar.zst") const {
        const std::string json = Plovander::ReleaseBuilder::build({tree, archive, url, "2.17", ""}, publisher, notary);
        return TessaloyCore::ReleaseManifest::decode({reinterpret_cast<const std::uint8_t*>(json.data()), json.size()});
    }

    static void writeFile(const std::filesystem::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
};

} // namespace Testing
