#include "app/runtime/TaskHandle.h"
#include "app/updater/SelfUpdater.h"
#include "platform/Relauncher.h"
#include "tests/app/updater/ReleaseFixture.h"
#include "tests/support/BlockingWork.h"
#include "tests/support/LoopbackHttpsServer.h"
#include "tests/support/ManualMainActor.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <system_error>

namespace {

namespace fs = std::filesystem;
using Plovander::SelfUpdater;
using State = TessaloyCore::UpdateStatus::State;
using Route = Testing::LoopbackHttpsServer::Route;
using Testing::ReleaseFixture;

class RecordingRelauncher final : public Platform::Relauncher {
public:
    Outcome outcome = Outcome::confirmed;
    std::vector<fs::path> started;
    Result start(const fs::path& program, std::chrono::milliseconds) override {
        started.push_back(program);
        return {outcome, outcome == Outcome::failed ? "no such program" : ""};
    }
};

Route notFound() {
    Route route;
    route.status = 404;
    return route;
}

struct InstallRun {
    std::vector<std::pair<State, std::optional<std::string>>> reports;
    bool done = false;
};

class SelfUpdaterTest : public testing::Test {
public:
    // A check still fetching when a test ends posts its result to this test's main actor.
    ~SelfUpdaterTest() override {
        Testing::finishBlockingWork();
        actor.runUntilIdle();
    }

    SelfUpdaterTest() {
        fs::create_directories(fixture.folder / "installed");
        fs::create_directories(fixture.folder / "source");
        fs::create_directories(fixture.folder / "downloads");
        fs::create_directories(fixture.folder / "build");
        installed = Testing::ReleaseFixture::makeTree(fixture.folder / "installed", {.build = "1"});
    }

    std::unique_ptr<SelfUpdater> makeUpdater(std::shared_ptr<Platform::Relauncher> starter = nullptr) {
        auto configuration =
            fixture.pointedAt(server, Plovander::InstalledCopy(fromBuildFolder ? fixture.folder / "build" : installed),
                              fixture.folder / "downloads", [this] { ++quits; });
        configuration.system = [] { return TessaloyCore::ReleaseManifest::SystemVersion{2, 36, 0}; };
        configuration.isWritable = [this](const fs::path&) { return writable; };
        configuration.relauncher = starter ? starter : relauncher;
        configuration.renames.exchange = [this, exchange = configuration.renames.exchange](auto& from, auto& to) {
            EXPECT_FALSE(actor.isCurrent()) << "the swap waits on the disk, off the main actor";
            if (duringSwap) duringSwap();
            return exchange(from, to);
        };
        if (!trustsPublisher) configuration.keys.publisher = Plovander::SigningKey::generate().publicKey();
        configuration.transport.deadline = deadline;
        auto updater = std::make_unique<SelfUpdater>(actor, configuration);
        updater->onChange = [this] { ++changes; };
        return updater;
    }

    // Publishes a signed release of build 2 and its manifest, its tree changed by `change`.
    TessaloyCore::ReleaseManifest publishRelease(const std::string& build = "2",
                                                 const std::string& manifestPath = "/plovander/latest.json",
                                                 const ReleaseFixture::Alteration& change = {}) {
        fs::remove_all(fixture.folder / "source");
        fs::create_directories(fixture.folder / "source");
        const auto tree = ReleaseFixture::makeTree(fixture.folder / "source", {.build = build});
        if (change) change(tree);
        return fixture.publish(server, tree, manifestPath, "/release.tar.zst");
    }

    std::optional<TessaloyCore::ReleaseManifest> check(SelfUpdater& updater) {
        std::optional<TessaloyCore::ReleaseManifest> result;
        bool done = false;
        Plovander::TaskHandle::detach([&](Plovander::CancellationToken) -> QCoro::Task<> {
            result = co_await updater.checkForUpdate();
            done = true;
        });
        EXPECT_TRUE(actor.runUntil([&] { return done; }));
        return result;
    }

    InstallRun install(
        SelfUpdater& updater, std::function<bool()> isAllowed = [] { return true; }) {
        InstallRun run;
        Plovander::TaskHandle::detach([&](Plovander::CancellationToken) -> QCoro::Task<> {
            co_await updater.installUpdate(
                isAllowed,
                [&](State state, const std::optional<std::string>& detail) { run.reports.emplace_back(state, detail); },
                {});
            run.done = true;
        });
        EXPECT_TRUE(actor.runUntil([&] { return run.done; }, std::chrono::seconds(30)));
        return run;
    }

    std::string installedBuild() const {
        std::ifstream file(installed / "Info.json");
        return nlohmann::json::parse(file).at("CFBundleVersion").get<std::string>();
    }

    // Starts the installed tree's program as an update would; true when it ran and was `build`.
    bool installedTreeStarts(const std::string& build) const {
        const auto result =
            Platform::Relauncher::create()->start(installed / "bin/plovander", std::chrono::seconds(30));
        const fs::path started = fixture.folder / "installed/started";
        std::ostringstream line;
        line << std::ifstream(started).rdbuf();
        fs::remove(started);
        return result.outcome == Platform::Relauncher::Outcome::confirmed && line.str().starts_with(build + " ");
    }

    std::size_t leftovers() const {
        const auto count = [](const fs::path& folder) {
            return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
        };
        return count(fixture.folder / "downloads") + count(fixture.folder / "installed") - 1;
    }

    Testing::ReleaseFixture fixture;
    // Also named as another host, so that a redirect there that got through would be answered.
    Testing::LoopbackHttpsServer server{"updates.plovander.example", {"evil.example"}};
    Testing::ManualMainActor actor;
    std::shared_ptr<RecordingRelauncher> relauncher = std::make_shared<RecordingRelauncher>();
    fs::path installed;
    bool writable = true;
    bool trustsPublisher = true;
    std::chrono::milliseconds deadline{0};
    // Runs as a copy started from a build folder: one without an Info.json.
    bool fromBuildFolder = false;
    std::function<void()> duringSwap; // on the swap's thread, before the exchange
    int changes = 0;
    int quits = 0;
};

TEST_F(SelfUpdaterTest, AFoundReleaseIsPublishedOnceAndIdentifiesTheRunningCopy) {
    publishRelease();
    const auto updater = makeUpdater();
    ASSERT_TRUE(check(*updater));
    EXPECT_EQ(updater->available()->build, 2);
    const auto found = updater->available();
    EXPECT_EQ(check(*updater), found);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(server.requests().back().headers.at("user-agent"), "Plovander/1.1 (1)");

    server.route("/plovander/latest.json", notFound());
    EXPECT_EQ(check(*updater), found);
    EXPECT_EQ(changes, 1);
}

TEST_F(SelfUpdaterTest, ChecksTwentySecondsAfterStartThenDaily) {
    server.route("/plovander/latest.json", notFound());
    const auto updater = makeUpdater();
    updater->startDailyCheck();
    updater->startDailyCheck();
    const auto checked = [&](std::size_t count) {
        return actor.runUntil([&] { return server.requests().size() >= count; });
    };
    actor.advance(std::chrono::seconds(19));
    EXPECT_TRUE(server.requests().empty());
    actor.advance(std::chrono::seconds(1));
    EXPECT_TRUE(checked(1));
    actor.advance(SelfUpdater::checkInterval - std::chrono::seconds(20));
    EXPECT_TRUE(checked(2));
    actor.advance(SelfUpdater::checkInterval);
    EXPECT_TRUE(checked(3));
    actor.runUntilIdle();
    EXPECT_EQ(server.requests().size(), 3u);
}

TEST_F(SelfUpdaterTest, AFullRunSwapsInTheNewTreeStartsItAndQuits) {
    publishRelease();
    const auto spawning = std::shared_ptr<Platform::Relauncher>(Platform::Relauncher::create());
    const auto updater = makeUpdater(spawning);
    const InstallRun run = install(*updater);
    std::vector<State> states;
    for (const auto& [state, detail] : run.reports) states.push_back(state);
    EXPECT_EQ(states, (std::vector{State::checking, State::downloading, State::verifying, State::installing}));
    EXPECT_EQ(installedBuild(), "2");
    std::ostringstream started;
    started << std::ifstream(fixture.folder / "installed/started").rdbuf();
    EXPECT_EQ(started.str(), "2 -TessaloyAfterUpdate " + std::to_string(::getpid()) + "\n");
    EXPECT_EQ(quits, 1);
    fs::remove(fixture.folder / "installed/started");
    EXPECT_EQ(leftovers(), 0u);
    EXPECT_FALSE(updater->isInstalling());
}

TEST_F(SelfUpdaterTest, EveryWayOutPublishesOneStateAndLeavesTheInstalledTreeWorking) {
    using Last = std::pair<State, std::optional<std::string>>;
    struct Case {
        const char* name;
        std::function<void(SelfUpdaterTest&)> prepare; // after build 2 is published
        // How many times isAllowed answers true before it answers false.
        int allowedAsks;
        Last last;
        std::string build;
    };
    const auto nothing = [](SelfUpdaterTest&) {};
    const Last withdrawn{State::notAllowed, std::nullopt};
    const Last cannotReplace{State::failed,
                             "Plovander can't replace itself where it is installed. Download the update from "
                             "https://plovander.example on the Mac."};
    const Case cases[] = {
        {"nothing newer", [](auto& t) { t.publishRelease("1"); }, 3, {State::upToDate, std::nullopt}, "1"},
        {"refused", nothing, 0, withdrawn, "1"},
        {"read-only folder", [](auto& t) { t.writable = false; }, 3, cannotReplace, "1"},
        {"manifest redirected with user info",
         [](auto& t) {
             t.publishRelease("2", "/plovander/elsewhere.json");
             t.server.route(
                 "/plovander/latest.json",
                 Route::redirectTo("https://updates.plovander.example:x@evil.example/plovander/elsewhere.json"));
         },
         3,
         {State::upToDate, std::nullopt},
         "1"},
        {"manifest trickling past its deadline",
         [](auto& t) {
             Route slow;
             slow.body = ReleaseFixture::body(t.publishRelease());
             slow.drip = true;
             slow.dripEvery = std::chrono::milliseconds(50);
             t.server.route("/plovander/latest.json", slow);
             t.deadline = std::chrono::seconds(1);
         },
         3,
         {State::upToDate, std::nullopt},
         "1"},
        {"program linked out of the tree",
         [](auto& t) {
             t.publishRelease("2", "/plovander/latest.json",
                              [](const fs::path& tree) { ReleaseFixture::linkOutOfTree(tree, "bin/plovander"); });
         },
         3,
         {State::failed, "The update file couldn't be opened."},
         "1"},
        {"started from its build folder", [](auto& t) { t.fromBuildFolder = true; }, 3, cannotReplace, "1"},
        {"started from its build folder, nothing published",
         [](auto& t) {
             t.fromBuildFolder = true;
             t.server.route("/plovander/latest.json", notFound());
         },
         3,
         {State::upToDate, std::nullopt},
         "1"},
        {"missing image",
         [](auto& t) { t.server.route("/release.tar.zst", notFound()); },
         3,
         {State::failed, "The update couldn't be downloaded. Check this Mac's internet connection."},
         "1"},
        {"withdrawn after the download", nothing, 1, withdrawn, "1"},
        {"withdrawn after staging", nothing, 2, withdrawn, "1"},
        {"foreign signature",
         [](auto& t) { t.trustsPublisher = false; },
         3,
         {State::failed, "The update isn't signed and notarised as Plovander, so it wasn't installed."},
         "1"},
        {"disk full at the swap",
         [](auto& t) { t.duringSwap = [] { throw std::system_error(ENOSPC, std::generic_category(), "exchange"); }; },
         3,
         {State::failed, "The update couldn't be installed: the disk is full. Free some space and try again."},
         "1"},
        {"start fails",
         [](auto& t) { t.relauncher->outcome = Platform::Relauncher::Outcome::failed; },
         3,
         {State::failed, "The update is installed. Quit and reopen Plovander on the Mac to finish."},
         "2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        duringSwap = {};
        fs::remove_all(installed);
        installed = Testing::ReleaseFixture::makeTree(fixture.folder / "installed", {.build = "1"});
        writable = true;
        trustsPublisher = true;
        deadline = {};
        fromBuildFolder = false;
        relauncher->outcome = Platform::Relauncher::Outcome::confirmed;
        publishRelease();
        c.prepare(*this);
        const auto updater = makeUpdater();
        int asks = 0;
        const InstallRun run = install(*updater, [&] { return asks++ < c.allowedAsks; });
        ASSERT_FALSE(run.reports.empty());
        EXPECT_EQ(run.reports.back(), c.last);
        EXPECT_EQ(updater->status(), (TessaloyCore::UpdateStatus{c.last.first, c.last.second}));
        EXPECT_EQ(installedBuild(), c.build);
        EXPECT_EQ(leftovers(), 0u);
        EXPECT_EQ(quits, 0);
        EXPECT_TRUE(installedTreeStarts(c.build));
    }
}

TEST_F(SelfUpdaterTest, OnlyACopyThatReplacesItselfSweepsWhatAnEarlierRunLeftAndNotOnTheMainThread) {
    for (const bool replacesItself : {true, false}) {
        SCOPED_TRACE(replacesItself);
        fromBuildFolder = !replacesItself;
        const fs::path parent = replacesItself ? installed.parent_path() : fixture.folder.path();
        const fs::path work = parent / ".Plovander-update-abc123";
        const fs::path image = fixture.folder / "downloads/Plovander-update-0.tar.zst";
        fs::create_directories(work / "mount");
        ReleaseFixture::writeFile(image, "x");
        {
            const Testing::HeldBlockingPool held;
            makeUpdater();
            EXPECT_TRUE(fs::exists(work) && fs::exists(image));
        }
        Testing::finishBlockingWork();
        EXPECT_NE(fs::exists(work), replacesItself);
        EXPECT_NE(fs::exists(image), replacesItself);
    }
}

TEST(TreeSwap, WithoutAnExchangeTheOldTreeComesBackWhenTheNewOneCannotMoveIn) {
    Testing::TemporaryDirectory folder;
    fs::create_directories(folder / "Plovander.app");
    fs::create_directories(folder / "work/Plovander.app/new");
    int renames = 0;
    const Plovander::TreeSwap::Renames noExchange{[](const fs::path&, const fs::path&) { return errno = EINVAL, -1; },
                                                  [&](const fs::path& from, const fs::path& to) {
                                                      // The second rename (the new tree moving in) fails.
                                                      return ++renames == 2 ? (errno = EXDEV, -1)
                                                                            : ::rename(from.c_str(), to.c_str());
                                                  }};
    EXPECT_THROW(Plovander::TreeSwap::replace(folder / "Plovander.app", folder / "work/Plovander.app", noExchange),
                 std::system_error);
    EXPECT_TRUE(fs::exists(folder / "Plovander.app"));
    EXPECT_FALSE(fs::exists(folder / "Plovander.app/new"));

    renames = 10;
    Plovander::TreeSwap::replace(folder / "Plovander.app", folder / "work/Plovander.app", noExchange);
    EXPECT_TRUE(fs::exists(folder / "Plovander.app/new"));
    EXPECT_FALSE(fs::exists(folder / "work/Plovander.app/new"));
}

} // namespace
