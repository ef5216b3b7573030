// How many pointer moves per second go through `InputInjector::post` into a private Xvfb server
// through XTest. Each move reads the pointer and the monitors and posts the motion; "each" waits
// until the server has carried out every move (a round trip after it, as XSync would) before the
// next goes, "batch" waits once after 1,000. Goal: at least 10,000 moves per second.
#include "app/services/InputInjector.h"
#include "platform/Events.h"
#include "platform/SerialQueue.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Plovander::InputInjector;
using InputEvent = TessaloyCore::InputEvent;

// A private Xvfb, found through -displayfd, ended on destruction.
class VirtualScreen {
public:
    VirtualScreen() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        std::vector<std::string> arguments{"Xvfb", "-displayfd", "3", "-nolisten",
                                           "tcp",  "-screen",    "0", "1920x1080x24"};
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const int spawned = ::posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        std::string text;
        while (spawned == 0 && text.find('\n') == std::string::npos) {
            pollfd ready{.fd = fds[0], .events = POLLIN, .revents = 0};
            char buffer[16];
            if (::poll(&ready, 1, 20'000) <= 0) break;
            const ssize_t count = ::read(fds[0], buffer, sizeof buffer);
            if (count <= 0) break;
            text.append(buffer, static_cast<std::size_t>(count));
        }
        ::close(fds[0]);
        if (text.find('\n') == std::string::npos) throw std::runtime_error("Xvfb did not start");
        name_ = text.substr(0, text.find('\n'));
        name_.insert(name_.begin(), ':');
    }
    ~VirtualScreen() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

// Passes everything on; with `syncsEachMove`, waits after each move until the server carried it out.
class SyncingEvents final : public Platform::Events {
public:
    SyncingEvents(std::unique_ptr<Platform::Events> inner, bool syncsEachMove)
        : inner_(std::move(inner)), syncsEachMove_(syncsEachMove) {}

    std::optional<Point> pointerLocation() override { return inner_->pointerLocation(); }
    std::optional<std::vector<Rect>> activeDisplayBounds() override { return inner_->activeDisplayBounds(); }
    bool postMouse(const MouseEvent& event) override {
        const bool posted = inner_->postMouse(event);
        // A request with a reply comes back only after everything sent before it was carried out.
        if (syncsEachMove_) inner_->pointerLocation();
        return posted;
    }
    bool postScroll(std::int32_t vertical, std::int32_t horizontal, Flags flags) override {
        return inner_->postScroll(vertical, horizontal, flags);
    }
    bool postKey(std::uint16_t code, bool isDown, Flags flags) override { return inner_->postKey(code, isDown, flags); }
    bool postCharacter(std::u16string_view units) override { return inner_->postCharacter(units); }
    std::vector<int> injectedDeviceIDs() const override { return inner_->injectedDeviceIDs(); }

private:
    std::unique_ptr<Platform::Events> inner_;
    bool syncsEachMove_;
};

void moves(benchmark::State& state, bool syncsEachMove) {
    VirtualScreen screen;
    Platform::SerialQueue queue("dev.tessaloy.input");
    std::string whyNot;
    auto real = Platform::Events::create(queue, screen.name(), &whyNot);
    if (!real) {
        state.SkipWithError(whyNot.c_str());
        return;
    }
    auto syncing = std::make_unique<SyncingEvents>(std::move(real), syncsEachMove);
    SyncingEvents& events = *syncing;
    InputInjector injector(queue, std::move(syncing));
    constexpr int batch = 1000;
    std::int64_t step = 1;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) {
            injector.post(InputEvent{InputEvent::PointerMove{step, 0}});
            step = -step;
        }
        queue.sync([&] { events.pointerLocation(); });
    }
    state.SetItemsProcessed(state.iterations() * batch);
}

void eachMoveCarriedOut(benchmark::State& state) { moves(state, true); }
void batchCarriedOut(benchmark::State& state) { moves(state, false); }

BENCHMARK(eachMoveCarriedOut)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(batchCarriedOut)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
