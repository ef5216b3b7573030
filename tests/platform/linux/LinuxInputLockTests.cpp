#include <gtest/gtest.h>

// Qt before Xlib, whose macros (Bool, Status) break Qt's headers.
#include <QCoreApplication>
#include <QElapsedTimer>

#include "platform/InputLock.h"
#include "platform/linux/LinuxInputLock.h"
#include "tests/support/OffscreenGuiApplication.h"
#include "tests/support/XvfbServer.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
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
        std::map<std::string, int> found;
        for (const auto& [name, device] : devices()) found[name] = device.second;
        return found;
    }

    // Moves the pointer through the XTEST device, as injected input does; returns where it is then.
    std::pair<int, int> moveInjected(int x, int y) {
        XTestFakeMotionEvent(display_, 0, x, y, CurrentTime);
        XSync(display_, False);
        ::Window root = 0;
        ::Window child = 0;
        int rootX = -1;
        int rootY = -1;
        int windowX = 0;
        int windowY = 0;
        unsigned mask = 0;
        XQueryPointer(display_, XDefaultRootWindow(display_), &root, &child, &rootX, &rootY, &windowX, &windowY, &mask);
        return {rootX, rootY};
    }

    // Presses `keys` in order on "Xvfb keyboard", then lets them go in reverse.
    void pressOnTheKeyboard(const std::vector<KeySym>& keys) {
        if (!keyboard_) keyboard_ = XOpenDevice(display_, devices().at("Xvfb keyboard").first);
        for (const KeySym key : keys) XTestFakeDeviceKeyEvent(display_, keyboard_, code(key), True, nullptr, 0, 0);
        for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
            XTestFakeDeviceKeyEvent(display_, keyboard_, code(*key), False, nullptr, 0, 0);
        }
        XSync(display_, False);
    }

private:
    unsigned code(KeySym key) const { return XKeysymToKeycode(display_, key); }
    // Device name to its id and use.
    std::map<std::string, std::pair<XID, int>> devices() const {
        int count = 0;
        XIDeviceInfo* devices = XIQueryDevice(display_, XIAllDevices, &count);
        std::map<std::string, std::pair<XID, int>> found;
        for (int i = 0; i < count; ++i)
            found[devices[i].name] = {static_cast<XID>(devices[i].deviceid), devices[i].use};
        XIFreeDeviceInfo(devices);
        return found;
    }

    ::Display* display_;
    XDevice* keyboard_ = nullptr;
};

class LinuxInputLockTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Testing::OffscreenGuiApplication::start(); }
    static void TearDownTestSuite() { Testing::OffscreenGuiApplication::stop(); }

    // Runs the main thread's loop until `done` holds, for at most `patience`.
    static bool until(const std::function<bool()>& done, int patience = 5'000) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < patience) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return done();
    }

    bool physicalDevicesAre(int keyboard, int mouse) const {
        auto uses = observer.uses();
        return uses["Xvfb keyboard"] == keyboard && uses["Xvfb mouse"] == mouse;
    }

    Testing::XvfbServer server{{.width = 640, .height = 360, .disabledExtensions = {}}};
    Observer observer{server.displayName()};
    std::unique_ptr<InputLock> lock = InputLock::create(server.displayName());
};

TEST_F(LinuxInputLockTest, FloatsThePhysicalDevicesAndLetsInjectedInputThrough) {
    EXPECT_TRUE(lock->isTrusted());
    int escapes = 0;
    const auto refusals = lock->lock([&] { ++escapes; });
    EXPECT_TRUE(refusals[0].has_value()) << "no input devices under /dev/input here";
    ASSERT_FALSE(refusals[1].has_value()) << *refusals[1];
    EXPECT_TRUE(lock->isLocked());
    EXPECT_TRUE(physicalDevicesAre(XIFloatingSlave, XIFloatingSlave));
    auto uses = observer.uses();
    EXPECT_EQ(uses["Virtual core XTEST keyboard"], XISlaveKeyboard);
    EXPECT_EQ(uses["Virtual core XTEST pointer"], XISlavePointer);

    EXPECT_EQ(observer.moveInjected(100, 120), std::make_pair(100, 120));
    ASSERT_TRUE(until([&] { return lock->counts().passed > 0; }));

    lock->unlock();
    EXPECT_FALSE(lock->isLocked());
    EXPECT_TRUE(physicalDevicesAre(XISlaveKeyboard, XISlavePointer));
    lock->unlock();
    EXPECT_EQ(escapes, 0);
}

TEST_F(LinuxInputLockTest, OnlyTheWholeChordAsksToEscapeOncePerPress) {
    int escapes = 0;
    ASSERT_FALSE(lock->lock([&] { ++escapes; })[1].has_value());
    observer.pressOnTheKeyboard({XK_Control_L, XK_Alt_L, XK_Escape});
    observer.pressOnTheKeyboard({XK_Escape});
    // Shift held as well still counts.
    observer.pressOnTheKeyboard({XK_Shift_L, XK_Control_L, XK_Alt_L, XK_Super_L, XK_Escape});
    ASSERT_TRUE(until([&] { return escapes > 0 && lock->counts().dropped[1] >= 18; }));
    EXPECT_EQ(escapes, 1);
    EXPECT_EQ(lock->counts().dropped[1], 18u) << "every press and release of the floated keyboard";
    EXPECT_TRUE(lock->isLocked());

    // Not while unlocked.
    lock->unlock();
    observer.pressOnTheKeyboard({XK_Control_R, XK_Alt_R, XK_Super_R, XK_Escape});
    QCoreApplication::processEvents();
    EXPECT_EQ(escapes, 1);
}

TEST_F(LinuxInputLockTest, TheChordReleasesTheLockWhenNobodyUnlocks) {
    ASSERT_FALSE(lock->lock({})[1].has_value());
    observer.pressOnTheKeyboard({XK_Control_L, XK_Alt_L, XK_Super_L, XK_Escape});
    EXPECT_TRUE(until([&] { return physicalDevicesAre(XISlaveKeyboard, XISlavePointer); },
                      3 * Platform::Linux::LinuxInputLock::selfRelease.count() * 1000));
    lock->unlock();
}

TEST_F(LinuxInputLockTest, AKilledHostsDevicesAreReattachedByTheWatchdog) {
    const pid_t host = ::fork();
    ASSERT_GE(host, 0);
    if (host == 0) {
        Platform::Linux::X11FloatLayer layer(server.displayName());
        ::raise(layer.take({}) ? SIGTERM : SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(host, &status, 0), host);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the host could not lock";
    EXPECT_TRUE(until([&] { return physicalDevicesAre(XISlaveKeyboard, XISlavePointer); }));
}

TEST_F(LinuxInputLockTest, WithoutAServerBothLayersAreRefused) {
    const auto nowhere = InputLock::create(":4095");
    EXPECT_FALSE(nowhere->isTrusted());
    const auto refusals = nowhere->lock({});
    EXPECT_TRUE(refusals[0].has_value() && refusals[1].has_value());
    EXPECT_FALSE(nowhere->isLocked());
}

} // namespace
