// Feeds arbitrary bodies to the release manifest decoder, as an update server (or whoever stands in
// its place) could. The first byte picks the form: a whole body, or a well-formed body whose "url",
// "sha256" or "minimumMacOS" is the rest of the input, so the URL and version checks are reached
// without the fuzzer having to find valid JSON first.
#include "core/ReleaseManifest.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

using namespace TessaloyCore;
using Json = nlohmann::json;

namespace {

Bytes bodyWith(const char* key, const std::string& value) {
    Json json{{"version", "2.4"},
              {"build", 57},
              {"url", "https://updates.plovander.example/plovander/x.dmg"},
              {"sha256", std::string(64, 'a')},
              {"minimumMacOS", "14.2"}};
    json[key] = value;
    const std::string text = json.dump(-1, ' ', false, Json::error_handler_t::replace);
    return Bytes(text.begin(), text.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string rest(data + 1, data + size);
    Bytes body;
    switch (data[0] % 4) {
        case 0:
            body.assign(data + 1, data + size);
            break;
        case 1:
            body = bodyWith("url", rest);
            break;
        case 2:
            body = bodyWith("sha256", rest);
            break;
        default:
            body = bodyWith("minimumMacOS", rest);
            break;
    }
    try {
        const ReleaseManifest manifest = ReleaseManifest::decode(body, "updates.plovander.example");
        const std::int64_t running =
            manifest.build == std::numeric_limits<std::int64_t>::min() ? 0 : manifest.build - 1;
        manifest.isUpdate(running, {14, 2, 1});
    } catch (const Json::exception&) {
    } catch (const ReleaseManifest::Error&) {
    }
    return 0;
}
