#include "app/updater/TestReleases.h"

#include "app/updater/SelfUpdater.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace Plovander {

std::unique_ptr<MacUpdater> TestReleases::updater(TessaloyBase::MainActor& actor, std::function<void()> quit) {
    auto configuration = SelfUpdater::Configuration::forThisProgram(std::move(quit));
    const char* file = std::getenv(variable);
    if (!file || !*file) return std::make_unique<SelfUpdater>(actor, std::move(configuration));
    std::ifstream stream(file);
    const nlohmann::json json = nlohmann::json::parse(stream, nullptr, false);
    if (!json.is_object()) throw std::runtime_error(std::string("unreadable test releases file ") + file);
    const auto text = [&](const char* key) { return json.value(key, std::string()); };
    configuration.transport.testAuthorityFile = text("authority");
    configuration.transport.testConnectTo = text("connectTo");
    // A missing or malformed key trusts no release at all.
    configuration.keys = {TrustedKeys::fromHex(text("publisher")), TrustedKeys::fromHex(text("notary"))};
    if (json.contains("tree")) configuration.copy = InstalledCopy(text("tree"));
    if (json.contains("downloads")) configuration.downloadFolder = text("downloads");
    configuration.installsAtStart = json.value("installAtStart", false);
    return std::make_unique<SelfUpdater>(actor, std::move(configuration));
}

} // namespace Plovander
