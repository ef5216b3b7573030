#pragma once

#include "base/SerialQueue.h"
#include "platform/Events.h"
#include "platform/linux/X11Connection.h"

#include <asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Platform::Linux {

// Posts events through XTest over a connection of its own, so they come from the server's XTEST
// virtual devices: that source is what tells them apart from the local person's input.
//
// X events carry no modifier flags: the state of the modifier keys is what counts. So around each
// event the Shift, Control and Alt keys are made to match its flags (pressing the missing ones,
// letting go of unwanted ones the device holds) and put back right after; Caps Lock is locked or
// unlocked to match the flags of each key press. A character that the keyboard map cannot type
// borrows a keycode without symbols; the map is put back `mappingHold` after the last such
// character, so that clients still translate the key with the borrowed symbol when they read it.
//
// The monitors are listed again whenever the server announces a change of the screen, its outputs
// or its monitors; such a notice arrives before the reply to any later request, so after a round
// trip (reading the pointer) the bounds are those of that moment, without a round trip of their own.
class XTestEvents final : public Events {
public:
    static constexpr std::chrono::milliseconds defaultMappingHold{1000};

    // Throws X11Error when no server answers or it lacks XTest.
    XTestEvents(TessaloyBase::SerialQueue& queue, const std::string& displayName,
                std::chrono::milliseconds mappingHold = defaultMappingHold);
    // Lets go of every key and button still held and puts the keyboard map back, on the queue: in
    // place when destroyed there, otherwise waiting for it, so never from another queue's work.
    ~XTestEvents() override;

    std::optional<Point> pointerLocation() override;
    // As of the last reply from the server (read the pointer first for the bounds of now).
    std::optional<std::vector<Rect>> activeDisplayBounds() override;
    bool postMouse(const MouseEvent& event) override;
    bool postScroll(std::int32_t vertical, std::int32_t horizontal, Flags flags) override;
    bool postKey(std::uint16_t code, bool isDown, Flags flags) override;
    bool postCharacter(std::u16string_view units) override;
    std::vector<int> injectedDeviceIDs() const override { return injectedDevices_; }

    // Gives the keycodes borrowed for characters back now. On the queue.
    void restoreKeyboardMapping();

private:
    // Modifier keys pressed or let go around one event, to be undone right after it.
    struct ModifierChange {
        std::vector<unsigned> pressed;
        std::vector<unsigned> released;
    };
    struct Binding {
        unsigned long keysym = 0;
        unsigned keycode = 0;
        std::vector<unsigned long> original;
    };

    static std::vector<int> findInjectedDevices(X11Connection& connection);
    void readEvents();
    void fakeKey(unsigned keycode, bool isDown);
    void fakeClick(unsigned button);
    bool finish();
    ModifierChange matchModifiers(Flags flags, std::optional<std::uint16_t> eventCode);
    void undo(const ModifierChange& change);
    void setCapsLock(bool on);
    bool isCapsLocked();
    // The keycode that types `keysym` and whether it needs Shift; borrows one when none does.
    std::optional<std::pair<unsigned, bool>> keycodeTyping(unsigned long keysym, int group);
    std::optional<unsigned> borrowKeycode(unsigned long keysym);
    void scheduleRestore();
    void releaseEverything();

    TessaloyBase::SerialQueue& queue_;
    std::unique_ptr<X11Connection> connection_;
    std::vector<int> injectedDevices_;
    std::chrono::milliseconds mappingHold_;
    int randrEventBase_ = -1;
    // Shift_L, Control_L and Alt_L; 0 where the keyboard has none.
    std::array<unsigned, 3> modifierKeycodes_{};

    // Touched only on the queue.
    // The device's keys held down, by the device's key code.
    std::map<std::uint16_t, unsigned> deviceKeys_;
    // How many of the device's keys hold each X keycode down (two of its keys may share one).
    std::map<unsigned, int> keyHolds_;
    std::set<unsigned> heldButtons_;
    // The monitors' bounds until the server announces a change.
    std::optional<std::vector<Rect>> displayBounds_;
    std::vector<Binding> bindings_;
    std::unique_ptr<asio::steady_timer> restoreTimer_;
    // Dropped when the object goes, so that a timer already due does nothing.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace Platform::Linux
