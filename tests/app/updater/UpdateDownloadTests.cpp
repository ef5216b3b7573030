#include "app/updater/UpdateDownload.h"
#include "app/updater/UpdateFailure.h"
#include "tests/support/LoopbackHttpsServer.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using Plovander::UpdateDownload;
using Plovander::UpdateFailure;
using Route = Testing::LoopbackHttpsServer::Route;

constexpr const char* host = "updates.plovander.example";
// Also served, so that a redirect there that got through would succeed.
constexpr const char* otherHost = "evil.example";
constexpr std::int64_t testLimit = 64;

struct Case {
    const char* name;
    Route route;
    const char* failure; // nullptr: the body arrives whole
    bool trusted = true;
    bool cancelled = false;
    std::chrono::milliseconds deadline{0}; // zero: the download's own
};

const std::string body = "release archive bytes";
const std::string atLimit(testLimit, 'x');

// A 200 answer of `text`, changed by `script`.
Route answer(
    std::string text, const std::function<void(Route&)>& script = [](Route&) {}) {
    Route route;
    route.body = std::move(text);
    script(route);
    return route;
}

const Case cases[] = {
    {"whole", answer(body), nullptr},
    {"exactlyTheLimit", answer(atLimit, [](Route& r) { r.announce = false; }), nullptr},
    {"notFound", answer("missing", [](Route& r) { r.status = 404; }), "download"},
    {"announcedOverTheLimit", answer(body, [](Route& r) { r.announcedLength = testLimit + 1; }), "tooLarge"},
    {"streamedOverTheLimit", answer(atLimit + "y", [](Route& r) { r.announce = false; }), "tooLarge"},
    {"lyingLength",
     answer(body,
            [](Route& r) {
                r.announcedLength = body.size() + 10;
                r.closeAfter = body.size();
            }),
     "download"},
    {"closedMidBody", answer(body, [](Route& r) { r.closeAfter = 4; }), "download"},
    {"empty", answer(""), "download"},
    {"stalled", answer(body, [](Route& r) { r.stall = true; }), "download"},
    {"untrusted", answer(body), "download", false},
    {"cancelled", answer(body, [](Route& r) { r.drip = true; }), "withdrawn", true, true},
    // Steady enough for the idle time-out, too slow for the whole request's deadline.
    {"trickling",
     answer(atLimit,
            [](Route& r) {
                r.drip = true;
                r.dripEvery = std::chrono::milliseconds(50);
            }),
     "download", true, false, std::chrono::seconds(1)},
    {"redirectToHttp", Route::redirectTo("http://updates.plovander.example/final"), "download"},
    {"redirectElsewhere", Route::redirectTo("https://elsewhere.example/final"), "download"},
    {"redirectWithUserInfo", Route::redirectTo("https://updates.plovander.example:x@evil.example/final"), "download"},
    {"redirectToAnotherPort", Route::redirectTo("https://updates.plovander.example:8443/final"), "download"},
    {"redirectOnOurHost", Route::redirectTo("https://updates.plovander.example/final"), nullptr},
    {"redirectOnOurPort", Route::redirectTo("https://updates.plovander.example:443/final"), nullptr},
};

class UpdateDownloadTest : public testing::TestWithParam<Case> {};

TEST_P(UpdateDownloadTest, KeepsTheLimitsAndLeavesNoFileOnFailure) {
    Testing::LoopbackHttpsServer server(host, {otherHost});
    server.route("/release.tar.zst", GetParam().route);
    server.route("/final", answer(body));
    Testing::TemporaryDirectory folder;
    std::atomic<bool> cancelled = GetParam().cancelled;
    TessaloyCore::ReleaseManifest manifest;
    manifest.url = server.url("/release.tar.zst");
    Plovander::ReleaseFetch::Options transport{.expectedHost = host,
                                               .userAgent = {},
                                               .bypassCaches = false,
                                               .idleTimeout = std::chrono::seconds(1),
                                               .deadline = GetParam().deadline,
                                               .limit = testLimit,
                                               .destination = {},
                                               .testAuthorityFile = GetParam().trusted ? server.authorityFile() : "",
                                               .testConnectTo = server.connectTo(),
                                               .cancelled = &cancelled};
    std::string failure;
    try {
        const fs::path file = UpdateDownload::download(manifest, transport, folder.path());
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        std::ostringstream text;
        text << std::ifstream(file).rdbuf();
        EXPECT_EQ(text.str(), GetParam().route.body.empty() ? body : GetParam().route.body);
        fs::remove(file);
    } catch (const UpdateFailure& error) {
        failure = error.what();
    }
    EXPECT_EQ(failure, GetParam().failure ? GetParam().failure : "");
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

INSTANTIATE_TEST_SUITE_P(Answers, UpdateDownloadTest, testing::ValuesIn(cases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(UpdateDownload, EveryDownloadGetsANewName) {
    EXPECT_NE(UpdateDownload::destinationIn("/tmp"), UpdateDownload::destinationIn("/tmp"));
}

} // namespace
