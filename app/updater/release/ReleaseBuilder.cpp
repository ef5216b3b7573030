#include "app/updater/release/ReleaseBuilder.h"

#include "app/updater/release/FileDigest.h"
#include "app/updater/release/ReleaseArchive.h"
#include "app/updater/release/ReleaseSignature.h"

#include <nlohmann/json.hpp>

#include <fstream>

namespace Plovander {

std::string ReleaseBuilder::build(const Request& request, const SigningKey& publisher, const SigningKey& notary) {
    std::ifstream infoFile(request.tree / "Info.json");
    if (!infoFile) throw std::runtime_error("no Info.json in " + request.tree.string());
    const nlohmann::json info = nlohmann::json::parse(infoFile);
    const std::string build = info.at("CFBundleVersion").get<std::string>();

    ReleaseSignature::sign(
        request.tree, publisher, notary,
        request.architecture.empty() ? ReleaseSignature::machineArchitecture() : request.architecture);
    ReleaseArchive::pack(request.tree, request.archive);
    const nlohmann::ordered_json manifest{
        {"version", info.at("CFBundleShortVersionString").get<std::string>()},
        {"build", std::stoll(build)},
        {"url", request.url},
        {"sha256", fileSha256Hex(request.archive)},
        {"minimumMacOS", request.minimumSystem},
    };
    return manifest.dump(2);
}

} // namespace Plovander
