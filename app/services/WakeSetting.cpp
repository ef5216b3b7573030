#include "app/services/WakeSetting.h"

#include "base/SerialQueue.h"

#include <memory>
#include <utility>

namespace Plovander {
namespace {

// The answer of one question, given once: by the work or by the time-out, whichever comes first.
class OnceAnswer {
public:
    explicit OnceAnswer(std::function<void(std::optional<bool>)> answer) : answer_(std::move(answer)) {}
    // Main actor only, like the time-out, which the answer calls off.
    void give(std::optional<bool> value) {
        if (!answer_) return;
        timeOut.cancel();
        auto answer = std::exchange(answer_, nullptr);
        answer(value);
    }
    TessaloyBase::ScheduledCall timeOut;

private:
    std::function<void(std::optional<bool>)> answer_;
};

} // namespace

void askWakeForNetworkAccess(TessaloyBase::MainActor& actor, const Platform::MachineInfo& machine,
                             TessaloyBase::MainActor::Duration patience,
                             std::function<void(std::optional<bool>)> answer) {
    auto once = std::make_shared<OnceAnswer>(std::move(answer));
    once->timeOut = actor.after(patience, [once] { once->give(std::nullopt); });
    TessaloyBase::runBlocking([&actor, &machine, once] {
        const std::optional<bool> value = machine.wakeForNetworkAccess();
        actor.post([once, value] { once->give(value); });
    });
}

} // namespace Plovander
