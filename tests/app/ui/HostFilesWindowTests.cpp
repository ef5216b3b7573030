#include "app/ui/DropZone.h"
#include "app/ui/HostFilesWindow.h"
#include "tests/app/ui/PopoverFixture.h"
#include "tests/support/TemporaryDirectory.h"

#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <fstream>

namespace Testing {
namespace {

class FilesWindowTest : public PopoverTest {
protected:
    void SetUp() override {
        PopoverTest::SetUp();
        window = std::make_unique<Plovander::HostFilesWindow>(*session, session->transfers(),
                                                              environment.desktopWorkspace, downloads.path());
        window->open();
    }
    void TearDown() override {
        window.reset();
        PopoverTest::TearDown();
    }

    // Drops `files` on the drop zone; returns whether the drop was taken.
    bool drop(const std::vector<std::filesystem::path>& files) {
        QMimeData data;
        QList<QUrl> urls;
        for (const auto& file : files) urls << QUrl::fromLocalFile(QString::fromStdString(file.string()));
        data.setUrls(urls);
        auto* zone = window->findChild<Plovander::DropZone*>("dropZone");
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zone, &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        // Straight to the zone: the application would want a drag in progress.
        static_cast<QObject*>(zone)->event(&event);
        environment.actor.runUntilIdle();
        return event.isAccepted();
    }

    QString text(const char* name) const { return window->findChild<QLabel*>(name)->text(); }
    bool shows(const char* name) const { return window->findChild<QWidget*>(name)->isVisibleTo(window.get()); }

    std::filesystem::path file(const std::string& name) {
        std::ofstream(sources.path() / name) << name;
        return sources.path() / name;
    }

    TemporaryDirectory downloads;
    TemporaryDirectory sources;
    std::unique_ptr<Plovander::HostFilesWindow> window;
};

TEST_F(FilesWindowTest, WithNoDeviceADropIsRefused) {
    EXPECT_EQ(text("dropTitle"), "No device is connected");
    EXPECT_FALSE(shows("chooseFiles"));
    EXPECT_TRUE(shows("nothingYet"));
    EXPECT_FALSE(drop({file("a.txt")}));
    EXPECT_TRUE(session->transfers().active().empty());
    EXPECT_FALSE(session->transfers().lastProblem());
}

TEST_F(FilesWindowTest, DroppedFilesAreSentInOrderAndAFolderIsRefusedInTheBanner) {
    pairAndApprove(Device{"Jo's iPhone"});
    EXPECT_EQ(text("dropTitle"), "Drop files here to send them to your device");
    EXPECT_TRUE(shows("chooseFiles"));

    EXPECT_TRUE(drop({file("one.txt"), file("two.txt"), sources.path()}));
    std::vector<std::string> names;
    for (const auto& activity : session->transfers().active()) names.push_back(activity.name);
    EXPECT_EQ(names, (std::vector<std::string>{"one.txt", "two.txt"}));
    EXPECT_TRUE(shows("filesBanner"));
    EXPECT_NE(window->findChild<QLabel*>("problemText")->text().indexOf("is a folder"), -1);
    EXPECT_FALSE(shows("nothingYet"));

    // Cancelling a row cancels exactly that transfer.
    const auto rows = visible<QToolButton>(*window, "cancelTransfer");
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows.front()->accessibleName(), "Cancel one.txt");
    rows.front()->click();
    ASSERT_TRUE(until([&] { return session->transfers().active().size() == 1; }));
    EXPECT_EQ(session->transfers().active().front().name, "two.txt");
    ASSERT_FALSE(session->transfers().finished().empty());
    EXPECT_EQ(session->transfers().finished().front().name, "one.txt");
    EXPECT_EQ(session->transfers().finished().front().outcome,
              Plovander::HostTransfers::Finished::Outcome::cancelled());
}

TEST_F(FilesWindowTest, RecentShowsTheEightNewestUntilCleared) {
    std::vector<Plovander::HostTransfers::Finished> finished;
    for (int index = 0; index < 12; ++index) {
        finished.push_back({.id = QUuid::createUuid(),
                            .name = "file" + std::to_string(index),
                            .isIncoming = true,
                            .outcome = Plovander::HostTransfers::Finished::Outcome::done(),
                            .url = downloads.path() / "Plovander" / ("file" + std::to_string(index)),
                            .date = {}});
    }
    session->transfers().setFinished(finished);
    EXPECT_EQ(visible(*window, "finishedRow").size(), 8);
    EXPECT_EQ(visible(*window, "reveal").size(), 8);
    EXPECT_FALSE(shows("nothingYet"));

    window->findChild<QPushButton*>("clearList")->click();
    EXPECT_TRUE(session->transfers().finished().empty());
    EXPECT_FALSE(shows("recent"));
    EXPECT_FALSE(shows("clearList"));
    EXPECT_TRUE(shows("nothingYet"));
}

// The chooser opens in the home folder, then where files were last chosen.
TEST_F(FilesWindowTest, ChooseFilesStartsAtHomeThenWhereFilesWereLastChosen) {
    pairAndApprove(Device{"Jo's iPhone"});
    std::vector<QString> openedIn;
    const auto answer = [&](const std::function<void(QFileDialog&)>& choose) {
        QTimer::singleShot(0, [&, choose] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            openedIn.push_back(dialog->directory().absolutePath());
            choose(*dialog);
        });
        window->findChild<QPushButton*>("chooseFiles")->click();
    };
    const QString chosen = QString::fromStdString(file("a.txt").string());
    answer([&](QFileDialog& dialog) {
        dialog.setDirectory(QString::fromStdString(sources.path().string()));
        dialog.selectFile(chosen);
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    answer([](QFileDialog& dialog) { dialog.reject(); });
    ASSERT_EQ(openedIn.size(), 2u);
    EXPECT_EQ(openedIn[0], QDir::homePath());
    EXPECT_EQ(openedIn[1], QDir(QString::fromStdString(sources.path().string())).absolutePath());
    ASSERT_EQ(session->transfers().active().size(), 1u);
    EXPECT_EQ(session->transfers().active().front().name, "a.txt");
}

TEST_F(FilesWindowTest, EscapeAndControlWCloseTheWindow) {
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        window->open();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(window->isVisible());
        QTest::keySequence(window.get(), keys);
        EXPECT_FALSE(window->isVisible()) << keys.toString().toStdString();
    }
}

TEST_F(FilesWindowTest, OpenDownloadsMakesTheFolder) {
    window->findChild<QPushButton*>("openDownloads")->click();
    EXPECT_TRUE(std::filesystem::is_directory(downloads.path() / "Plovander"));
    ASSERT_EQ(environment.desktopWorkspace.opened.size(), 1u);
    EXPECT_NE(environment.desktopWorkspace.opened.front().find("Plovander"), std::string::npos);
}

} // namespace
} // namespace Testing
