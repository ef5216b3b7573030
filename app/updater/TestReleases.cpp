#include "app/updater/TestReleases.h"

#ifndef NDEBUG
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#endif

namespace Plovander {

#ifdef NDEBUG
void TestReleases::apply(SelfUpdater::Configuration&) {}
#else
void TestReleases::apply(SelfUpdater::Configuration& configuration) {
    const char* file = std::getenv(variable);
    if (!file || !*file) return;
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
}
#endif

} // namespace Plovander
