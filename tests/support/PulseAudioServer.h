#pragma once

#include "tests/support/DaemonProcess.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"

#include <chrono>
#include <optional>
#include <string>

namespace Testing {

// A private PulseAudio daemon whose only sink is a null sink (the default sink, 48 kHz float
// stereo), reached on a socket in its own temporary folder, with its own home, runtime and state
// folders, so tests in parallel share nothing. While it exists, PulseAudio clients of this process
// keep their cookie and client settings in that folder too, never in the real home.
class PulseAudioServer {
public:
    // Waits until the daemon accepts clients; throws std::runtime_error with its log when it does not.
    PulseAudioServer();
    ~PulseAudioServer();
    PulseAudioServer(const PulseAudioServer&) = delete;
    PulseAudioServer& operator=(const PulseAudioServer&) = delete;

    // The server address ("unix:" and the socket path).
    const std::string& server() const { return server_; }
    // From spawning the daemon to its first accepted client.
    std::chrono::duration<double> startupTime() const { return startupTime_; }

    // Kills the daemon at once, as a crash would.
    void kill();
    std::string logText() const;

    // Plays a sine tone of `frequency` Hz into the default sink and returns once it has been played.
    void playTone(double frequency, std::chrono::milliseconds duration, int sampleRate = 48000, int channels = 2,
                  float amplitude = 0.5f) const;

private:
    TemporaryDirectory folder_;
    std::string server_;
    ScopedEnvironment clientEnvironment_;
    std::optional<DaemonProcess> daemon_;
    std::chrono::duration<double> startupTime_{};
};

} // namespace Testing
