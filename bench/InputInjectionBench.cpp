// How many pointer moves per second go through `InputInjector::post` into a private Xvfb server
// through XTest. Each move reads the pointer and the monitors and posts the motion; "each" waits
// until the server has carried out every move (a round trip after it, as XSync would) before the
// next goes, "batch" waits once after 1,000. Goal: at least 10,000 moves per second.
#include "app/services/InputInjector.h"
#include "base/SerialQueue.h"
#include "platform/Events.h"
#include "tests/support/XvfbServer.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using Plovander::InputInjector;
using InputEvent = TessaloyCore::InputEvent;

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
    const Testing::XvfbServer screen;
    TessaloyBase::SerialQueue queue("dev.tessaloy.input");
    std::string whyNot;
    auto real = Platform::Events::create(queue, screen.displayName(), &whyNot);
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
