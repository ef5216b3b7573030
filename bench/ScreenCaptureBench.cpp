// What one captured frame costs: the time from the start of the grab to the hand-over of the
// picture (XShm grab of a whole display, plus drawing the pointer when asked), at two display sizes,
// measured on a private Xvfb server. Counters p50_ms and p99_ms are over all frames of a run.
#include "platform/Displays.h"
#include "platform/ScreenCapture.h"
#include "platform/SerialQueue.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

// A private Xvfb at the given size, found through -displayfd, ended on destruction.
class VirtualScreen {
public:
    VirtualScreen(int width, int height) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        std::string size = std::to_string(width) + "x" + std::to_string(height) + "x24";
        std::vector<std::string> arguments{"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", size};
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

double percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[index];
}

void grab(benchmark::State& state, int width, int height, bool showsCursor) {
    const VirtualScreen screen(width, height);
    Platform::SerialQueue queue("dev.tessaloy.capture");
    const auto displays = Platform::Displays::create(screen.name())->list();
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<double> seconds;
    auto capture = Platform::ScreenCapture::create(queue, screen.name());
    capture->start({.displayID = displays.front().displayID, .framesPerSecond = 240, .showsCursor = showsCursor},
                   {.onFrame =
                        [&](const Platform::FrameView& view) {
                            const std::chrono::duration<double> spent =
                                std::chrono::steady_clock::now() - view.captureTime;
                            {
                                std::lock_guard guard(lock);
                                seconds.push_back(spent.count());
                            }
                            arrived.notify_one();
                        },
                    .onStopped = {},
                    .onNote = [&](const std::string& line) { state.SetLabel(line); }});
    {
        // The first frame comes on its own.
        std::unique_lock guard(lock);
        arrived.wait(guard, [&] { return !seconds.empty(); });
        seconds.clear();
    }
    for (auto _ : state) {
        std::unique_lock guard(lock);
        const std::size_t before = seconds.size();
        guard.unlock();
        capture->requestFrame();
        guard.lock();
        arrived.wait(guard, [&] { return seconds.size() > before; });
        state.SetIterationTime(seconds.back());
    }
    capture->stop();
    state.counters["p50_ms"] = percentile(seconds, 0.50) * 1000;
    state.counters["p99_ms"] = percentile(seconds, 0.99) * 1000;
}

} // namespace

BENCHMARK_CAPTURE(grab, 1920x1080, 1920, 1080, false)->UseManualTime()->Iterations(600)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(grab, 1920x1080_pointer, 1920, 1080, true)
    ->UseManualTime()
    ->Iterations(600)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(grab, 1280x720, 1280, 720, false)->UseManualTime()->Iterations(600)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(grab, 1280x720_pointer, 1280, 720, true)
    ->UseManualTime()
    ->Iterations(600)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
