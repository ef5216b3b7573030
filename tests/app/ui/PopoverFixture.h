#pragma once

#include "app/ui/HostMenuView.h"
#include "tests/app/shell/StreamingSessionFixture.h"
#include "tests/app/ui/OffscreenWidgets.h"

#include <QApplication>
#include <QLabel>

#include <memory>

namespace Testing {

// The popover over a controller on fakes, on Qt's offscreen platform.
class PopoverTest : public StreamingSessionTest {
protected:
    static void SetUpTestSuite() { startOffscreenWidgets(); }

    void SetUp() override {
        StreamingSessionTest::SetUp();
        menu = std::make_unique<Plovander::HostMenuView>(*session, *probe, session->transfers());
        menu->show();
    }

    void TearDown() override {
        menu.reset();
        StreamingSessionTest::TearDown();
    }

    template <typename Widget = QWidget>
    Widget* find(const QString& name) const {
        return menu->findChild<Widget*>(name);
    }

    // The visible widgets of `name` below `parent`.
    template <typename Widget = QWidget>
    static QList<Widget*> visible(const QWidget& parent, const QString& name) {
        QList<Widget*> shown;
        for (Widget* widget : parent.findChildren<Widget*>(name)) {
            if (widget->isVisibleTo(&parent)) shown << widget;
        }
        return shown;
    }

    std::unique_ptr<Plovander::HostMenuView> menu;
};

} // namespace Testing
