#include "tests/support/PulseAudioServer.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>

#include <sys/stat.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <numbers>
#include <stdexcept>
#include <thread>
#include <vector>

namespace Testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto startupDeadline = std::chrono::seconds(15);

// One client connection driven on the calling thread, every wait bounded by a deadline.
class ClientLoop {
public:
    explicit ClientLoop(const std::string& server) : loop_(pa_mainloop_new()) {
        context_ = pa_context_new(pa_mainloop_get_api(loop_), "plovander-test");
        if (pa_context_connect(context_, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) failed_ = true;
    }
    ~ClientLoop() {
        if (stream_) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        pa_mainloop_free(loop_);
    }
    ClientLoop(const ClientLoop&) = delete;
    ClientLoop& operator=(const ClientLoop&) = delete;

    // Whether the server accepted the connection before the deadline.
    bool connect(Clock::time_point deadline) {
        if (failed_) return false;
        return runUntil(deadline,
                        [this] {
                            const auto state = pa_context_get_state(context_);
                            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
                        }) &&
               pa_context_get_state(context_) == PA_CONTEXT_READY;
    }

    // Runs the loop until `done` holds; false at the deadline.
    bool runUntil(Clock::time_point deadline, const std::function<bool()>& done) {
        while (!done()) {
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            const auto wait = std::min<long long>(left.count(), 50'000);
            if (pa_mainloop_prepare(loop_, static_cast<int>(wait)) < 0 || pa_mainloop_poll(loop_) < 0 ||
                pa_mainloop_dispatch(loop_) < 0) {
                return false;
            }
        }
        return true;
    }

    std::string error() const { return pa_strerror(pa_context_errno(context_)); }
    pa_context* context() const { return context_; }
    pa_stream*& stream() { return stream_; }

private:
    pa_mainloop* loop_;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool failed_ = false;
};

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream file(path);
    file << text;
}

} // namespace

PulseAudioServer::PulseAudioServer() {
    const auto home = folder_ / "home";
    const auto runtime = folder_ / "runtime";
    const auto state = folder_ / "state";
    const auto client = folder_ / "client";
    for (const auto& path : {home, runtime, state, client}) {
        std::filesystem::create_directories(path);
        ::chmod(path.c_str(), 0700);
    }
    const auto socket = folder_ / "native";
    server_ = "unix:" + socket.string();

    // Clients of this process (the capture under test, the tone player) would otherwise create a cookie
    // in the real home and read the user's client settings.
    writeFile(client / "client.conf", "autospawn = no\n");
    clientEnvironment_.set("PULSE_COOKIE", (client / "cookie").string());
    clientEnvironment_.set("PULSE_CLIENTCONFIG", (client / "client.conf").string());

    DaemonProcess::Launch launch;
    launch.program = "pulseaudio";
    // As root it only warns; -n skips the system's default.pa, and no real-time priority or CPU limit
    // disturbs a busy test machine.
    launch.arguments = {
        "-n",
        "--daemonize=no",
        "--system=no",
        "--use-pid-file=no",
        "--exit-idle-time=-1",
        "--high-priority=no",
        "--realtime=no",
        "--no-cpu-limit=yes",
        "--log-target=stderr",
        "--log-level=notice",
        "-L",
        "module-null-sink sink_name=plovander_null rate=48000 channels=2 format=float32le",
        "-L",
        "module-native-protocol-unix socket=" + socket.string() + " auth-anonymous=1 auth-cookie-enabled=0"};
    launch.environment = {"PATH=/usr/bin:/bin:/usr/sbin:/sbin", "HOME=" + home.string(),
                          "XDG_RUNTIME_DIR=" + runtime.string(), "XDG_CONFIG_HOME=" + (home / ".config").string(),
                          "XDG_STATE_HOME=" + state.string(), "XDG_CACHE_HOME=" + (home / ".cache").string(),
                          "PULSE_RUNTIME_PATH=" + runtime.string(), "PULSE_STATE_PATH=" + state.string(),
                          // No session bus to register on.
                          "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (folder_ / "no-bus").string()};
    launch.log = folder_ / "pulseaudio.log";

    const auto started = Clock::now();
    daemon_.emplace(launch);
    const auto deadline = started + startupDeadline;
    for (;;) {
        if (!daemon_->isRunning()) throw std::runtime_error("pulseaudio exited while starting:\n" + logText());
        if (ClientLoop(server_).connect(deadline)) break;
        if (Clock::now() >= deadline)
            throw std::runtime_error("pulseaudio did not accept clients in time:\n" + logText());
        // The socket is not there yet: look again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    startupTime_ = Clock::now() - started;
}

PulseAudioServer::~PulseAudioServer() = default;

void PulseAudioServer::kill() {
    if (daemon_) daemon_->stop(SIGKILL);
}

std::string PulseAudioServer::logText() const { return daemon_ ? daemon_->logText() : std::string(); }

void PulseAudioServer::playTone(double frequency, std::chrono::milliseconds duration, int sampleRate, int channels,
                                float amplitude) const {
    const auto frames = static_cast<std::size_t>(static_cast<long long>(sampleRate) * duration.count() / 1000);
    std::vector<float> samples(frames * static_cast<std::size_t>(channels));
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(frame) / sampleRate;
        const auto value = static_cast<float>(amplitude * std::sin(phase));
        for (int channel = 0; channel < channels; ++channel) {
            samples[frame * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel)] = value;
        }
    }

    // Outlives the client, whose teardown may still finish the drain operation.
    bool drained = false;
    const auto deadline = Clock::now() + duration + std::chrono::seconds(15);
    ClientLoop client(server_);
    if (!client.connect(deadline)) throw std::runtime_error("tone: cannot connect: " + client.error());
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(sampleRate),
                              static_cast<std::uint8_t>(channels)};
    pa_stream*& stream = client.stream();
    stream = pa_stream_new(client.context(), "tone", &spec, nullptr);
    if (!stream) throw std::runtime_error("tone: " + client.error());
    if (pa_stream_connect_playback(stream, nullptr, nullptr, PA_STREAM_NOFLAGS, nullptr, nullptr) < 0 ||
        !client.runUntil(deadline, [&] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; }) ||
        pa_stream_get_state(stream) != PA_STREAM_READY) {
        throw std::runtime_error("tone: playback did not start: " + client.error());
    }

    const auto* bytes = reinterpret_cast<const std::uint8_t*>(samples.data());
    const std::size_t total = samples.size() * sizeof(float);
    std::size_t written = 0;
    while (written < total) {
        if (!client.runUntil(deadline, [&] { return pa_stream_writable_size(stream) > 0; })) {
            throw std::runtime_error("tone: the server took no more sound: " + client.error());
        }
        const std::size_t chunk = std::min(total - written, pa_stream_writable_size(stream));
        if (pa_stream_write(stream, bytes + written, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            throw std::runtime_error("tone: " + client.error());
        }
        written += chunk;
    }
    pa_operation* drain = pa_stream_drain(
        stream, [](pa_stream*, int, void* userdata) { *static_cast<bool*>(userdata) = true; }, &drained);
    const bool played = drain && client.runUntil(deadline, [&] { return drained; });
    if (drain) pa_operation_unref(drain);
    if (!played) throw std::runtime_error("tone: was not played in time: " + client.error());
}

} // namespace Testing
