#include "tests/app/ui/PopoverFixture.h"

#include "app/ui/ElidedLabel.h"
#include "app/ui/HostSettingsWindow.h"
#include "app/ui/SeparatedText.h"
#include "app/ui/SettingRow.h"
#include "app/ui/Switch.h"
#include "tests/support/BlockingWork.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace Testing {
namespace {

using State = Plovander::LoginItem::State;

class SettingsTest : public PopoverTest {
protected:
    void SetUp() override {
        PopoverTest::SetUp();
        makeWindow();
    }

    void TearDown() override {
        window.reset();
        // The wake row's question runs on the pool and reads the environment's machine.
        finishBlockingWork();
        PopoverTest::TearDown();
    }

    void makeWindow() {
        window = std::make_unique<Plovander::HostSettingsWindow>(*session, *probe, environment);
        window->open();
    }

    template <typename Widget = QWidget>
    Widget* part(const QString& name) const {
        return window->findChild<Widget*>(name);
    }
    bool shows(const QString& name) const { return part(name)->isVisibleTo(window.get()); }
    Plovander::Switch& toggle(const QString& row) const { return part<Plovander::SettingRow>(row)->toggle(); }

    std::unique_ptr<Plovander::HostSettingsWindow> window;
};

TEST_F(SettingsTest, SectionsFollowPairingAndTheDiagnosticsSwitch) {
    EXPECT_FALSE(shows("connectSection"));
    EXPECT_FALSE(shows("diagnosticsSection"));
    ASSERT_TRUE(until([&] { return session->identity().has_value(); }));
    window->open();
    EXPECT_EQ(part<Plovander::SeparatedText>("fingerprint")->fullText(),
              QString::fromStdString(session->identity()->fingerprint()));

    part<QCheckBox>("showDiagnostics")->click();
    EXPECT_TRUE(shows("diagnosticsSection"));
    EXPECT_EQ(environment.defaults.boolean("ShowsDiagnostics"), true);

    listenFor(Device{"Jo's iPhone"});
    EXPECT_TRUE(shows("connectSection"));
    EXPECT_TRUE(shows("stayAwake"));
    EXPECT_FALSE(shows("routerPort")) << "the router port waits for the relay's registration";
}

TEST_F(SettingsTest, TheConnectSectionListsThisComputersAddressesAgainWhenTheNetworkChanges) {
    using Kind = Platform::Interfaces::Kind;
    listenFor(Device{"Jo's iPhone"});
    environment.network.setInterfaces({FakeInterfaces::link("eth0", Kind::wired, {"192.168.1.20", "fe80::1%eth0"}),
                                       FakeInterfaces::link("tailscale0", Kind::tunnel, {"100.64.0.7"})});
    environment.networkWatch.change();
    QStringList shown;
    ASSERT_TRUE(until([&] {
        shown.clear();
        for (const auto* address : window->findChildren<Plovander::ElidedLabel*>("address")) {
            shown << address->fullText();
        }
        return !shown.isEmpty();
    }));
    EXPECT_EQ(shown, (QStringList{"192.168.1.20:55801", "100.64.0.7:55802"}));
    EXPECT_TRUE(shows("vpnNote"));
}

TEST_F(SettingsTest, RemoteControlLivesHereAndItsHintNeedsInputInjectionToBeMissing) {
    ASSERT_TRUE(session->allowsRemoteControl());
    EXPECT_FALSE(shows("injectionHint"));
    auto& control = toggle("remoteControl");
    QTest::keyClick(&control, Qt::Key_Space);
    EXPECT_FALSE(session->allowsRemoteControl());
    EXPECT_FALSE(control.isChecked());

    environment.eventsFail = true;
    renew();
    EXPECT_FALSE(shows("injectionHint")) << "remote control is off";
    session->setAllowsRemoteControl(true);
    EXPECT_TRUE(shows("injectionHint"));
}

TEST_F(SettingsTest, TheWakeRowShowsTheNoAnswerTextUntilItsCheckAnswers) {
    const QString noAnswer = "Your iPhone can wake this Mac when both are on this network.";
    environment.machine.wakes = false;
    window->open();
    EXPECT_EQ(part<QLabel>("wakeDetail")->text(), noAnswer);
    ASSERT_TRUE(until([&] { return part<QLabel>("wakeDetail")->text() != noAnswer; }));
    EXPECT_FALSE(shows("wakeOn"));

    environment.machine.wakes = true;
    window->open();
    EXPECT_EQ(part<QLabel>("wakeDetail")->text(), noAnswer);
    EXPECT_FALSE(shows("wakeOn"));
    EXPECT_TRUE(until([&] { return shows("wakeOn"); }));
}

TEST_F(SettingsTest, AFailedStartAtLoginStaysUntilTheSwitchChangesAgain) {
    environment.logins.failWith = "Failed to connect to bus";
    auto& startAtLogin = toggle("startAtLogin");
    startAtLogin.click();
    EXPECT_FALSE(startAtLogin.isChecked());
    EXPECT_EQ(part<QLabel>("loginFailure")->text(), "Couldn't turn this on: Failed to connect to bus");
    window->hide();
    window->open();
    EXPECT_TRUE(shows("loginFailure"));

    environment.logins.failWith.reset();
    startAtLogin.click();
    EXPECT_EQ(session->loginItem(), State(State::Case::enabled));
    EXPECT_TRUE(startAtLogin.isChecked());
    EXPECT_FALSE(shows("loginFailure"));
}

TEST_F(SettingsTest, DisplaysAreLoadedPickedAndTestedOutsideASession) {
    environment.displayList = {
        {.displayID = 7, .width = 1920, .height = 1080, .isMain = true, .bounds = {0, 0, 1920, 1080}, .name = "DUMMY0"},
        {.displayID = 9, .width = 1280, .height = 1024, .bounds = {1920, 0, 1280, 1024}, .name = ""}};
    part<QCheckBox>("showDiagnostics")->click();
    EXPECT_FALSE(shows("displayPicker"));
    part<QPushButton>("loadDisplays")->click();
    ASSERT_TRUE(until([&] { return shows("displayPicker") && !probe->isBusy(); }));

    auto* picker = part<QComboBox>("displayPicker");
    ASSERT_EQ(picker->count(), 2);
    Q_EMIT picker->activated(1);
    EXPECT_EQ(probe->selectedDisplayID(), 9u);

    part<QPushButton>("testEncoder")->click();
    ASSERT_TRUE(until([&] { return probe->isRunning() && !probe->isBusy(); }));
    EXPECT_TRUE(shows("counters"));
    part<QPushButton>("stopEncoder")->click();
    EXPECT_TRUE(until([&] { return !probe->isRunning() && !probe->isBusy(); }));
    EXPECT_FALSE(shows("stopEncoder"));
}

TEST_F(SettingsTest, TheFootersShortcutsWorkWhileThePopoverHasTheFocus) {
    QApplication::setActiveWindow(menu.get());
    QSignalSpy settings(menu.get(), &Plovander::HostMenuView::settingsRequested);
    QSignalSpy quit(menu.get(), &Plovander::HostMenuView::quitRequested);
    QTest::keyClick(menu.get(), Qt::Key_Comma, Qt::ControlModifier);
    QTest::keyClick(menu.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(settings.count(), 1);
    EXPECT_EQ(quit.count(), 1);
}

} // namespace
} // namespace Testing
