// How soon the host listens for its paired device after it is launched, how long its main actor
// stalls meanwhile, and how soon it ends on SIGTERM. The real program is launched three times per
// machine state, each time with a home of its own (a paired device, listening for paired devices on a
// free port) on a private Xvfb, and watched from outside:
//
//   listen_ms  launch until the listener takes a TCP connection; goal: at most 500 (median of three)
//   stall_ms   the main actor's longest stall from launch until two seconds after it listens (or
//              after launch, where it does not listen): the longest answer to a request on the
//              application's local socket, which the main actor serves, sent back to back;
//              goal: at most 50 (median of three launches' longest)
//   quit_ms    SIGTERM until the process has ended (median of three)
//
// Machine states: no system bus at all (so neither logind nor an mDNS daemon); a system bus that
// takes connections and never answers, without and with a session bus (as on a desktop, where the
// toolkit uses it); and no system bus with a 9 MB trust store.
#include "bench/Measures.h"
#include "net/channel/P256PrivateKey.h"
#include "net/channel/PairedDeviceStore.h"
#include "platform/linux/FileKeychain.h"
#include "platform/linux/SettingsUserDefaults.h"
#include "tests/support/DaemonProcess.h"
#include "tests/support/SilentBus.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/XvfbServer.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;
namespace fs = std::filesystem;

enum class Machine { noSystemBus, silentSystemBus, silentSystemBusOnADesktop, largeTrustStore };

constexpr auto afterListening = 2s;
constexpr auto patience = 20s;

std::uint16_t freePort() {
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin6_port);
}

// A home where the host listens for one paired device on `port`.
void furnish(const fs::path& home, std::uint16_t port, Machine machine) {
    {
        Platform::Linux::SettingsUserDefaults settings(home / ".config/tessaloy/plovander.conf", {});
        settings.setBoolean("TessaloyListenForPairedDevices", true);
        settings.setBoolean("TessaloyAvailabilityChosen", true);
        settings.setInteger("TessaloyListenPort", port);
    }
    const fs::path keychain = home / ".local/share/tessaloy/keychain";
    Platform::Linux::FileKeychain items(keychain);
    TessaloyNet::PairedDeviceStore(items).add({TessaloyNet::P256PrivateKey::generate().publicKey().x963Representation(),
                                               "Bench iPhone", std::chrono::system_clock::now(), std::nullopt});
    if (machine != Machine::largeTrustStore) return;
    // One device whose name takes 9 MB.
    std::ofstream(
        keychain / TessaloyNet::PairedDeviceStore::keychainService / TessaloyNet::PairedDeviceStore::keychainAccount,
        std::ios::trunc)
        << R"([{"publicKey":"AA==","name":")" << std::string(9'000'000, 'x') << R"(","pairedAt":0}])";
}

bool connects(int family, const sockaddr* address, socklen_t length) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = ::connect(fd, address, length) == 0;
    ::close(fd);
    return connected;
}

bool listensOn(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return connects(AF_INET, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

// How long the application takes to answer one request on its local socket, which its main actor
// reads and closes; nothing while the socket is not there yet.
std::optional<Milliseconds> answerTime(const fs::path& socket) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::optional<Milliseconds> answered;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        const auto sent = Clock::now();
        // Not "present": the application only reads it and hangs up.
        if (::write(fd, "ping\n", 5) == 5) {
            pollfd closed{fd, POLLIN, 0};
            char byte = 0;
            while (::poll(&closed, 1, static_cast<int>(std::chrono::milliseconds(patience).count())) == 1 &&
                   ::read(fd, &byte, 1) > 0) {
            }
            answered = Clock::now() - sent;
        }
    }
    ::close(fd);
    return answered;
}

struct Launch {
    std::optional<Milliseconds> listening;
    Milliseconds longestStall{0};
    Milliseconds quitting{0};
};

std::optional<Milliseconds> waitForExit(pid_t pid, Clock::duration limit) {
    const auto start = Clock::now();
    while (Clock::now() - start < limit) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) return Clock::now() - start;
        std::this_thread::sleep_for(1ms);
    }
    return std::nullopt;
}

// A session bus of its own, as a desktop has.
class SessionBus {
public:
    SessionBus() {
        const fs::path socket = folder_ / "bus";
        Testing::DaemonProcess::Launch bus;
        bus.program = "dbus-daemon";
        bus.arguments = {"--session", "--address=unix:path=" + socket.string(), "--nofork", "--nopidfile"};
        bus.environment = {"PATH=/usr/bin:/bin"};
        daemon_.emplace(bus);
        const auto started = Clock::now();
        while (!fs::exists(socket) && Clock::now() - started < patience) std::this_thread::sleep_for(1ms);
        address_ = "unix:path=" + socket.string();
    }
    const std::string& address() const { return address_; }

private:
    Testing::TemporaryDirectory folder_;
    std::optional<Testing::DaemonProcess> daemon_;
    std::string address_;
};

Launch launch(const std::string& display, Machine machine, const std::string& systemBus,
              const std::optional<std::string>& sessionBus) {
    Testing::TemporaryDirectory home;
    const fs::path runtime = home / "runtime";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    const std::uint16_t port = freePort();
    furnish(home.path(), port, machine);

    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry) variables.emplace_back(*entry);
    for (const std::string& setting : std::initializer_list<std::string>{
             "DISPLAY=" + display, "HOME=" + home.path().string(), "XDG_CONFIG_HOME=" + (home / ".config").string(),
             "XDG_DATA_HOME=" + (home / ".local/share").string(), "XDG_STATE_HOME=" + (home / ".local/state").string(),
             "XDG_CACHE_HOME=" + (home / ".cache").string(), "XDG_RUNTIME_DIR=" + runtime.string(),
             "DBUS_SYSTEM_BUS_ADDRESS=" + systemBus,
             "DBUS_SESSION_BUS_ADDRESS=" + sessionBus.value_or("unix:path=" + (runtime / "no-session-bus").string()),
             "QT_QPA_PLATFORM=xcb"}) {
        variables.push_back(setting);
    }
    std::vector<char*> environment;
    for (auto& variable : variables) environment.push_back(variable.data());
    environment.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char* arguments[] = {const_cast<char*>(PLOVANDER_PROGRAM), nullptr};

    Launch result;
    const auto launched = Clock::now();
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, PLOVANDER_PROGRAM, &quiet, nullptr, arguments, environment.data());
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) return result;

    std::atomic<bool> watching{true};
    std::thread stalls([&] {
        const fs::path socket = runtime / "tessaloy/plovander.socket";
        while (watching) {
            if (const auto answered = answerTime(socket)) {
                result.longestStall = std::max(result.longestStall, *answered);
            } else {
                std::this_thread::sleep_for(1ms);
            }
        }
    });
    const bool wantsListening = machine != Machine::largeTrustStore;
    while (wantsListening && Clock::now() - launched < patience) {
        if (listensOn(port)) {
            result.listening = Clock::now() - launched;
            break;
        }
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(result.listening ? afterListening : afterListening + 500ms);
    watching = false;
    stalls.join();

    ::kill(pid, SIGTERM);
    const auto ended = waitForExit(pid, patience);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    result.quitting = ended.value_or(Milliseconds(patience));
    return result;
}

void startUp(benchmark::State& state, Machine machine) {
    const Testing::XvfbServer display({.width = 1280, .height = 720, .disabledExtensions = {}});
    std::optional<Testing::SilentBus> silent;
    Testing::TemporaryDirectory nowhere;
    std::string systemBus = "unix:path=" + (nowhere / "no-system-bus").string();
    std::optional<SessionBus> session;
    if (machine == Machine::silentSystemBus || machine == Machine::silentSystemBusOnADesktop) {
        silent.emplace();
        systemBus = silent->address();
    }
    if (machine == Machine::silentSystemBusOnADesktop) session.emplace();
    for (auto _ : state) {
        std::vector<double> listening;
        std::vector<double> stalls;
        std::vector<double> quitting;
        for (int run = 0; run < 3; ++run) {
            const Launch measured = launch(display.displayName(), machine, systemBus,
                                           session ? std::optional(session->address()) : std::nullopt);
            if (machine != Machine::largeTrustStore && !measured.listening) {
                state.SkipWithError("the host did not listen");
                return;
            }
            if (measured.listening) listening.push_back(measured.listening->count());
            stalls.push_back(measured.longestStall.count());
            quitting.push_back(measured.quitting.count());
        }
        if (!listening.empty()) state.counters["listen_ms"] = Bench::percentile(listening, 0.5);
        state.counters["stall_ms"] = Bench::percentile(stalls, 0.5);
        state.counters["quit_ms"] = Bench::percentile(quitting, 0.5);
    }
}

} // namespace

BENCHMARK_CAPTURE(startUp, no_system_bus, Machine::noSystemBus)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(startUp, silent_system_bus, Machine::silentSystemBus)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(startUp, silent_system_bus_on_a_desktop, Machine::silentSystemBusOnADesktop)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(startUp, nine_megabyte_trust_store, Machine::largeTrustStore)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
