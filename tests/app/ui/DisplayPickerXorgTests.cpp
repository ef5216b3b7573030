#include <gtest/gtest.h>

// Qt before the X11 headers that the desktop host brings (their macros clash with Qt's names).
#include <QComboBox>

#include "app/capture/CaptureProbe.h"
#include "app/shell/StreamingSession.h"
#include "app/ui/DisplaySection.h"
#include "tests/app/ui/OffscreenWidgets.h"
#include "tests/support/host/DesktopHost.h"

namespace Testing {
namespace {

// The Display section's picker during a real session on two real monitors.
class DisplayPickerXorg : public testing::Test {
protected:
    static void SetUpTestSuite() { startOffscreenWidgets(); }

    void SetUp() override {
        try {
            host = std::make_unique<DesktopHost>(XorgDummyServer::Options{{{1920, 1080}, {1024, 768}}});
        } catch (const XorgDummyServer::Unavailable& why) {
            GTEST_SKIP() << "needs Xorg with the dummy video driver: " << why.what();
        }
        if (auto problem = host->start()) FAIL() << *problem;
    }

    std::unique_ptr<DesktopHost> host;
};

TEST_F(DisplayPickerXorg, ThePickerShowsTheSharedDisplayUntilTheSwitchHasGoneThrough) {
    DeviceSimulator device("Ada's iPhone");
    if (auto problem = host->pairAndApprove(device)) FAIL() << *problem;
    Plovander::DisplaySection section(*host->session, *host->probe);
    auto* picker = section.findChild<QComboBox*>("displayPicker");
    ASSERT_TRUE(host->until([&] { return picker->count() == 2 && !host->probe->isBusy(); }));
    const auto shownID = [&] { return picker->currentData().value<std::uint32_t>(); };
    const std::uint32_t shared = host->probe->selectedDisplayID();
    ASSERT_EQ(shownID(), shared);
    EXPECT_TRUE(picker->isEnabled()) << "capture serves the session, so the picker stays";

    const int other = shownID() == picker->itemData(0).value<std::uint32_t>() ? 1 : 0;
    const std::uint32_t otherID = picker->itemData(other).value<std::uint32_t>();
    picker->setCurrentIndex(other);
    Q_EMIT picker->activated(other);
    EXPECT_EQ(shownID(), shared) << "snapped back while the capture restarts";
    ASSERT_TRUE(host->until([&] { return shownID() == otherID; }));
    EXPECT_TRUE(host->session->isSharing());
    EXPECT_TRUE(host->probe->isRunning());
    EXPECT_EQ(host->probe->selectedDisplayID(), otherID);
    EXPECT_TRUE(host->traced("restarting capture: switching the shared display"));
}

} // namespace
} // namespace Testing
