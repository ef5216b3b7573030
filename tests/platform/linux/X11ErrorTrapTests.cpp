#include <gtest/gtest.h>

#include "platform/linux/X11Connection.h"
#include "platform/linux/X11ErrorTrap.h"
#include "tests/support/XvfbServer.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

using Platform::Linux::X11Connection;
using Platform::Linux::X11ErrorTrap;

// An id no client was given.
constexpr ::Window missingWindow = 0x1fffff;

std::atomic<int> forwardedErrors{0};
int countingHandler(::Display*, XErrorEvent*) {
    ++forwardedErrors;
    return 0;
}

XErrorHandler currentHandler() {
    const XErrorHandler handler = XSetErrorHandler(nullptr);
    XSetErrorHandler(handler);
    return handler;
}

class X11ErrorTrapTest : public ::testing::Test {
protected:
    Testing::XvfbServer server{{.width = 320, .height = 240, .disabledExtensions = {}}};
    std::unique_ptr<X11Connection> connection = X11Connection::open(server.displayName());
    ::Display* display = connection->display();
};

TEST_F(X11ErrorTrapTest, AFailedRequestBecomesAnError) {
    X11ErrorTrap trap(display);
    EXPECT_FALSE(trap.failed());
    EXPECT_EQ(trap.errorText(), "");
    EXPECT_TRUE(trap.sync());

    XMapWindow(display, missingWindow);
    EXPECT_FALSE(trap.sync());
    EXPECT_TRUE(trap.failed());
    EXPECT_EQ(trap.errorCode(), BadWindow);
    EXPECT_NE(trap.errorText().find("BadWindow"), std::string::npos) << trap.errorText();
    EXPECT_NE(trap.errorText().find("request 8.0"), std::string::npos) << trap.errorText(); // X_MapWindow

    // The first error is the one kept.
    XFreeGC(display, XCreateGC(display, missingWindow, 0, nullptr));
    trap.sync();
    EXPECT_EQ(trap.errorCode(), BadWindow);
}

TEST_F(X11ErrorTrapTest, AnErrorStillInFlightIsCaughtBeforeTheTrapEnds) {
    // No sync inside the scope: the destructor waits for the answer, so the process survives.
    {
        X11ErrorTrap trap(display);
        XMapWindow(display, missingWindow);
    }
    X11ErrorTrap after(display);
    EXPECT_TRUE(after.sync());
}

TEST_F(X11ErrorTrapTest, TheInnermostTrapOfTheConnectionTakesTheError) {
    X11ErrorTrap outer(display);
    {
        X11ErrorTrap inner(display);
        XMapWindow(display, missingWindow);
        EXPECT_FALSE(inner.sync());
    }
    EXPECT_TRUE(outer.sync());
    XUnmapWindow(display, missingWindow);
    EXPECT_FALSE(outer.sync());
}

TEST_F(X11ErrorTrapTest, RestoresThePreviousHandlerAndForwardsOtherConnectionsErrors) {
    const XErrorHandler original = XSetErrorHandler(&countingHandler);
    forwardedErrors = 0;
    ::Display* foreign = XOpenDisplay(server.displayName().c_str());
    ASSERT_NE(foreign, nullptr);
    {
        X11ErrorTrap trap(display);
        // An error of a connection without a trap goes to the handler that was there before.
        XMapWindow(foreign, missingWindow);
        XSync(foreign, False);
        EXPECT_EQ(forwardedErrors, 1);
        EXPECT_TRUE(trap.sync());
    }
    EXPECT_EQ(XSetErrorHandler(original), &countingHandler);
    XCloseDisplay(foreign);
}

TEST_F(X11ErrorTrapTest, TrapsOnManyThreadsKeepTheirErrorsApart) {
    const XErrorHandler before = currentHandler();
    constexpr int threadCount = 4;
    constexpr int rounds = 50;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            auto own = X11Connection::open(server.displayName());
            for (int round = 0; round < rounds; ++round) {
                X11ErrorTrap trap(own->display());
                // Odd threads fail every round, even ones never do.
                if (t % 2 == 1) XMapWindow(own->display(), missingWindow);
                if (trap.sync() != (t % 2 == 0)) ++wrong;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);

    // With every trap gone, Xlib's handler is the one from before the first trap again.
    EXPECT_EQ(currentHandler(), before);
    {
        X11ErrorTrap probe(display);
        EXPECT_NE(currentHandler(), before);
    }
    EXPECT_EQ(currentHandler(), before);
}

TEST_F(X11ErrorTrapTest, ALostServerMarksTheConnectionBrokenInsteadOfEndingTheProcess) {
    EXPECT_FALSE(connection->isBroken());
    server.kill();
    X11ErrorTrap trap(display);
    XNoOp(display);
    trap.sync();
    EXPECT_TRUE(connection->isBroken());
    // Later requests fail quietly, from any thread.
    std::thread([&] { EXPECT_EQ(XPending(display), 0); }).join();
}

TEST(X11Connection, OpeningWithoutAServerThrowsWithTheName) {
    try {
        X11Connection::open(":65001");
        FAIL() << "connected to a server that does not exist";
    } catch (const Platform::Linux::X11Error& error) {
        EXPECT_NE(std::string(error.what()).find(":65001"), std::string::npos) << error.what();
    }
}

} // namespace
