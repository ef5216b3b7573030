#include "app/ui/PresentRequests.h"
#include "tests/app/ui/PopoverFixture.h"
#include "tests/support/TemporaryDirectory.h"

#include <QElapsedTimer>

#include <fstream>

namespace Testing {
namespace {

TEST_F(PopoverTest, ASecondLaunchAsksTheRunningCopyToShowItself) {
    TemporaryDirectory folder;
    const auto socket = folder.path() / "plovander.socket";
    EXPECT_FALSE(Plovander::PresentRequests::ask(socket));

    // A socket file left by a copy that ended is taken over.
    std::ofstream(socket) << "stale";
    int presented = 0;
    const Plovander::PresentRequests requests(socket, [&] { ++presented; });
    ASSERT_TRUE(requests.isListening());
    ASSERT_TRUE(Plovander::PresentRequests::ask(socket));
    QElapsedTimer waited;
    waited.start();
    while (presented == 0 && waited.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(presented, 1);
}

} // namespace
} // namespace Testing
