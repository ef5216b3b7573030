#include <gtest/gtest.h>

#include "platform/InputLock.h"
#include "tests/support/OffscreenGuiApplication.h"
#include "tests/support/XvfbServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Platform::InputLock;

// The test's own view of the server: the devices and their attachment, and key presses sent as if
// from the server's own keyboard.
class Observer {
public:
    explicit Observer(const std::string& displayName) : display_(XOpenDisplay(displayName.c_str())) {}
    ~Observer() {
        if (keyboard_) XCloseDevice(display_, keyboard_);
        XCloseDisplay(display_);
    }

    // Device name to its use (XISlaveKeyboard, XIFloatingSlave, ...).
    std::map<std::string, int> uses() const {
        int count = 0;
        XIDeviceInfo* devices = XIQueryDevice(display_, XIAllDevices, &count);
        std::map<std::string, int> found;
        for (int i = 0; i < count; ++i) found[devices[i].name] = devices[i].use;
        XIFreeDeviceInfo(devices);
        return found;
    }

    // Presses `keys` in order on "Xvfb keyboard", then lets them go in reverse.
    void pressOnTheKeyboard(const std::vector<KeySym>& keys) {
        if (!keyboard_) keyboard_ = XOpenDevice(display_, deviceID("Xvfb keyboard"));
        for (const KeySym key : keys) XTestFakeDeviceKeyEvent(display_, keyboard_, code(key), True, nullptr, 0, 0);
        for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
            XTestFakeDeviceKeyEvent(display_, keyboard_, code(*key), False, nullptr, 0, 0);
        }
        XSync(display_, False);
    }

private:
    unsigned code(KeySym key) const { return XKeysymToKeycode(display_, key); }
    XID deviceID(const std::string& name) const {
        int count = 0;
        XIDeviceInfo* devices = XIQueryDevice(display_, XIAllDevices, &count);
        XID id = 0;
        for (int i = 0; i < count; ++i) {
            if (devices[i].name == name) id = static_cast<XID>(devices[i].deviceid);
        }
        XIFreeDeviceInfo(devices);
        return id;
    }

    ::Display* display_;
    XDevice* keyboard_ = nullptr;
};

class X11InputLockTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Testing::OffscreenGuiApplication::start(); }
    static void TearDownTestSuite() { Testing::OffscreenGuiApplication::stop(); }

    // Runs the main thread's loop until `done` holds, for at most five seconds.
    static bool until(const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 5'000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return done();
    }

    Testing::XvfbServer server{{.width = 640, .height = 360, .disabledExtensions = {}}};
    Observer observer{server.displayName()};
    std::unique_ptr<InputLock> lock = InputLock::create(server.displayName());
};

TEST_F(X11InputLockTest, TakesThePhysicalDevicesAndLeavesInjectedInputAlone) {
    int escapes = 0;
    ASSERT_TRUE(lock->lock([&] { ++escapes; })) << lock->refusal().value_or("");
    EXPECT_EQ(lock->state(), InputLock::State::locked);
    auto uses = observer.uses();
    EXPECT_EQ(uses["Xvfb keyboard"], XIFloatingSlave);
    EXPECT_EQ(uses["Xvfb mouse"], XIFloatingSlave);
    EXPECT_EQ(uses["Virtual core XTEST keyboard"], XISlaveKeyboard);
    EXPECT_EQ(uses["Virtual core XTEST pointer"], XISlavePointer);

    lock->unlock();
    EXPECT_EQ(lock->state(), InputLock::State::unlocked);
    uses = observer.uses();
    EXPECT_EQ(uses["Xvfb keyboard"], XISlaveKeyboard);
    EXPECT_EQ(uses["Xvfb mouse"], XISlavePointer);
    lock->unlock();
    EXPECT_EQ(escapes, 0);
}

TEST_F(X11InputLockTest, OnlyTheWholeChordAsksToEscape) {
    int escapes = 0;
    ASSERT_TRUE(lock->lock([&] { ++escapes; }));
    observer.pressOnTheKeyboard({XK_Control_L, XK_Alt_L, XK_Escape});
    observer.pressOnTheKeyboard({XK_Escape});
    // Shift held as well still counts.
    observer.pressOnTheKeyboard({XK_Shift_L, XK_Control_L, XK_Alt_L, XK_Super_L, XK_Escape});
    ASSERT_TRUE(until([&] { return escapes > 0; }));
    EXPECT_EQ(escapes, 1);
    EXPECT_EQ(lock->state(), InputLock::State::locked);

    // Not while unlocked.
    lock->unlock();
    observer.pressOnTheKeyboard({XK_Control_R, XK_Alt_R, XK_Super_R, XK_Escape});
    QCoreApplication::processEvents();
    EXPECT_EQ(escapes, 1);
}

TEST_F(X11InputLockTest, ADeviceHeldByAnotherProgramRefusesTheLock) {
    const auto other = InputLock::create(server.displayName());
    ASSERT_TRUE(other->lock({}));
    EXPECT_FALSE(lock->lock({}));
    EXPECT_EQ(lock->state(), InputLock::State::unlocked);
    ASSERT_TRUE(lock->refusal().has_value());
    EXPECT_NE(lock->refusal()->find("another program holds it"), std::string::npos) << *lock->refusal();

    other->unlock();
    EXPECT_TRUE(lock->lock({}));
    EXPECT_FALSE(lock->refusal().has_value());
}

TEST_F(X11InputLockTest, WithoutAServerTheLockIsRefused) {
    const auto nowhere = InputLock::create(":4095");
    EXPECT_FALSE(nowhere->lock({}));
    EXPECT_TRUE(nowhere->refusal().has_value());
}

} // namespace
