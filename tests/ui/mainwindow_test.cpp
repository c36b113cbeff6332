// The main window's own behaviour: its legend, Enter, the properties from
// the context menu, and the single running copy. Searches and updates from
// it are tests/ui/update_test.cpp's.
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "app/SingleInstance.h"
#include "base/Strings.h"
#include "device/DeviceList.h"
#include "tests/device/support/DeviceFixtures.h"
#include "tests/ui/support/UiTestSupport.h"
#include "ui/DevicePropertyDialog.h"
#include "ui/DialogTemplate.h"
#include "ui/TemplateTexts.h"
#include "ui/UpdateWnd.h"

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override { SetLanguageOverride(9); }
    UiTestEnvironment env;
};

// The legend's labels show their whole text, inside the device list group,
// in either language.
TEST_F(MainWindow, LegendLabelsAreWideEnoughForTheirText) {
    for (const int language : {7, 9}) {
        SetLanguageOverride(language);
        CUpdateWnd window(false);
        const MainWindowTexts& t = MainWindowTemplate();
        int found = 0;
        for (const char* text : {t.legendImpossible, t.legendRunning, t.legendSucceeded, t.legendFailed}) {
            for (QLabel* label : window.findChildren<QLabel*>()) {
                if (label->text() != QString::fromUtf8(text)) continue;
                ++found;
                EXPECT_GE(label->width(), label->sizeHint().width()) << text;
                EXPECT_LE(label->geometry().right(), FindControl<QTreeWidget>(&window, 6016)->geometry().right()) << text;
            }
        }
        EXPECT_EQ(found, 4) << language;
    }
}

TEST_F(MainWindow, EnterDoesNotEndTheWindow) {
    CUpdateWnd window(false);
    window.show();
    QTest::keyClick(&window, Qt::Key_Return);
    EXPECT_TRUE(window.isVisible());
    window.reject();
    EXPECT_FALSE(window.isVisible());
}

// Right-click a row, a search cycle rebuilds the list while the menu is
// open, then "Eigenschaften": the properties of the clicked port, no crash.
TEST_F(MainWindow, PropertiesFromTheMenuAfterTheListWasRebuiltOnDesktop) {
    if (!OnDesktop()) GTEST_SKIP() << "runs under tests/ui/desktop.sh";
    CUpdateWnd window(false);
    window.setModal(true);  // as the program runs it
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    CDeviceList& devices = window.Core().GetDeviceList();
    auto device = [](const char* serial) {
        DeviceTraits traits;
        traits.serial = serial;
        return MakeDevice(traits);
    };
    const PortPtr clicked = SerialPort("COM2");
    devices.Add(device("000000001"), SerialPort("COM9"), 0);
    devices.Add(device("000000002"), clicked, 0);
    window.Core().UpdateWnd();
    QTreeWidgetItem* row = window.RowOf(clicked.get());
    ASSERT_NE(row, nullptr);
    const QPoint at = window.List()->viewport()->mapToGlobal(window.List()->visualItemRect(row).center());

    bool rebuilt = false;
    QString shown;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!rebuilt) {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr || !menu->isVisible() || menu->actions().isEmpty()) return;
            rebuilt = true;
            devices.Add(device("000000003"), SerialPort("COM1"), 0);
            window.Core().UpdateWnd();
            DesktopClick(menu->mapToGlobal(menu->actionGeometry(menu->actions().front()).center()));
            return;
        }
        if (auto* dialog = dynamic_cast<CDevicePropertyDialog*>(QApplication::activeModalWidget())) {
            shown = FindControl<QLabel>(dialog, 6065)->text();
            poll.stop();
            dialog->reject();
        }
    });
    poll.start(10);
    ASSERT_TRUE(DesktopClick(at, 3));
    ASSERT_TRUE(WaitUntil([&] { return !shown.isEmpty(); }, 10000));
    EXPECT_TRUE(rebuilt);
    EXPECT_EQ(shown, "000000002");
    window.reject();
}

TEST(SingleInstance, ASecondStartRaisesTheFirstAndEnds) {
    UiTestEnvironment env;
    const std::string dir = env.Dir().Join("run");
    QWidget first;
    first.showMinimized();
    ASSERT_TRUE(WaitUntil([&] { return first.isMinimized(); }, 2000));

    CSingleInstance running;
    ASSERT_EQ(running.Start("Test Mutex", dir), CSingleInstance::Result::kFirst);
    int activations = 0;
    running.SetActivationHandler([&] {
        ++activations;
        BringWindowToFront(&first);
    });

    CSingleInstance second;
    EXPECT_EQ(second.Start("Test Mutex", dir), CSingleInstance::Result::kOtherRunning);
    ASSERT_TRUE(WaitUntil([&] { return activations == 1; }));
    EXPECT_FALSE(first.isMinimized());
    EXPECT_TRUE(first.isVisible());

    // Once the first lets go, the next start runs.
    running.Stop();
    CSingleInstance third;
    EXPECT_EQ(third.Start("Test Mutex", dir), CSingleInstance::Result::kFirst);
}

TEST(SingleInstance, AFolderThatCannotBeMadeIsAFailure) {
    CSingleInstance instance;
    EXPECT_EQ(instance.Start("Test Mutex", "/proc/not-here"), CSingleInstance::Result::kFailed);
    EXPECT_NE(instance.Error(), 0u);
}

}  // namespace
