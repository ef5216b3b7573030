#pragma once

namespace Testing {

// A QGuiApplication on Qt's offscreen platform, whose clipboard lives in this process: enough for
// suites that drive the desktop clipboard without a display.
class OffscreenGuiApplication {
public:
    // Makes the application unless this process already has one; for SetUpTestSuite().
    static void start();
    // Deletes what start() made; for TearDownTestSuite().
    static void stop();
    // Whether this process's application can serve a clipboard (another suite may have made a
    // non-GUI one first).
    static bool isAvailable();
};

} // namespace Testing
