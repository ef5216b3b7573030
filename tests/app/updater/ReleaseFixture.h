#pragma once

#include "app/updater/SelfUpdater.h"
#include "app/updater/UpdateStaging.h"
#include "app/updater/release/FileDigest.h"
#include "app/updater/release/ReleaseArchive.h"
#include "app/updater/release/ReleaseBuilder.h"
#include "app/updater/release/ReleaseKeys.h"
#include "app/updater/release/ReleaseSignature.h"
#include "core/Encoding.h"
#include "core/ReleaseManifest.h"
#include "tests/support/LoopbackHttpsServer.h"
#include "tests/support/TemporaryDirectory.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
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

    // Moves `entry` out to `outside` in the tree's parent and puts in its place a link to it whose
    // text stays inside the tree but which leads there on disk, through `l1 -> .` and `l2 -> l1/..`.
    static void linkOutOfTree(const std::filesystem::path& tree, const std::filesystem::path& entry) {
        std::filesystem::rename(tree / entry, tree.parent_path() / "outside");
        if (!std::filesystem::is_symlink(tree / "l1")) {
            std::filesystem::create_symlink(".", tree / "l1");
            std::filesystem::create_symlink("l1/..", tree / "l2");
        }
        std::string up;
        for ([[maybe_unused]] const auto& part : entry.parent_path()) up += "../";
        std::filesystem::create_symlink(up + "l2/outside", tree / entry);
    }

    // What a test does to a tree (after signing: what a server adds to a signed release).
    using Alteration = std::function<void(const std::filesystem::path& tree)>;

    // Signs and packs the tree into `archive`, changed by `afterSigning` between the two; the
    // manifest names `url`.
    TessaloyCore::ReleaseManifest release(const std::filesystem::path& tree, const std::filesystem::path& archive,
                                          const Alteration& afterSigning = {},
                                          const std::string& url = "https://" + TessaloyCore::ReleaseManifest::host() +
                                                                   "/plovander/Plovander-2.tar.zst") const {
        const std::string json = Plovander::ReleaseBuilder::build({tree, archive, url, "2.17", ""}, publisher, notary);
        auto manifest =
            TessaloyCore::ReleaseManifest::decode({reinterpret_cast<const std::uint8_t*>(json.data()), json.size()});
        if (afterSigning) {
            afterSigning(tree);
            std::filesystem::remove(archive);
            Plovander::ReleaseArchive::pack(tree, archive);
            manifest.sha256 = Plovander::fileSha256Hex(archive);
        }
        return manifest;
    }

    // Signs and packs `tree`, serves the archive at `archivePath` and its manifest at `manifestPath`;
    // `drip` sends the archive so slowly that only a withdrawal ends its download within a test.
    TessaloyCore::ReleaseManifest publish(LoopbackHttpsServer& server, const std::filesystem::path& tree,
                                          const std::string& manifestPath, const std::string& archivePath,
                                          bool drip = false) const {
        const auto archive = folder / "release.tar.zst";
        const auto manifest = release(tree, archive, {}, server.url(archivePath));
        std::ostringstream bytes;
        bytes << std::ifstream(archive, std::ios::binary).rdbuf();
        LoopbackHttpsServer::Route image;
        image.body = bytes.str();
        image.drip = drip;
        image.dripEvery = std::chrono::milliseconds(50);
        server.route(archivePath, image);
        LoopbackHttpsServer::Route latest;
        latest.body = body(manifest);
        server.route(manifestPath, latest);
        return manifest;
    }

    static std::string body(const TessaloyCore::ReleaseManifest& manifest) {
        return nlohmann::json{{"version", manifest.version},
                              {"build", manifest.build},
                              {"url", manifest.url},
                              {"sha256", manifest.sha256},
                              {"minimumMacOS", manifest.minimumSystem}}
            .dump();
    }

    // The product's updater settings for `copy`, pointed at `server`'s manifest and these keys, with
    // downloads in `downloads`.
    Plovander::SelfUpdater::Configuration pointedAt(
        const LoopbackHttpsServer& server, const Plovander::InstalledCopy& copy, const std::filesystem::path& downloads,
        std::function<void()> quit = [] {}) const {
        auto configuration = Plovander::SelfUpdater::Configuration::forThisProgram(std::move(quit));
        configuration.copy = copy;
        configuration.manifestLocation = server.url("/plovander/latest.json");
        configuration.transport.expectedHost = server.host();
        configuration.transport.testAuthorityFile = server.authorityFile();
        configuration.transport.testConnectTo = server.connectTo();
        configuration.keys = trusted();
        configuration.downloadFolder = downloads;
        return configuration;
    }

    // The file that points the program's test build at `server` and these keys, and has it install
    // what it finds at once; the tree and the download folder are the program's own unless given.
    std::filesystem::path pointUpdaterAt(const LoopbackHttpsServer& server, const std::filesystem::path& tree = {},
                                         const std::filesystem::path& downloads = {}) const {
        nlohmann::json json{{"authority", server.authorityFile().string()},
                            {"connectTo", server.connectTo()},
                            {"publisher", TessaloyCore::hexString(publisher.publicKey())},
                            {"notary", TessaloyCore::hexString(notary.publicKey())},
                            {"installAtStart", true}};
        if (!tree.empty()) json["tree"] = tree.string();
        if (!downloads.empty()) json["downloads"] = downloads.string();
        const auto file = folder / "test-releases.json";
        writeFile(file, json.dump());
        return file;
    }

    static void writeFile(const std::filesystem::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
};

} // namespace Testing
