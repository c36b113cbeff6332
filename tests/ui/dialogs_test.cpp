// The dialogs and the progress window, built for real on the offscreen
// platform and read back through their control ids.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "base/Strings.h"
#include "base/WindowMessages.h"
#include "device/DeviceList.h"
#include "device/DeviceTables.h"
#include "tests/device/support/DeviceFixtures.h"
#include "tests/ui/support/UiTestSupport.h"
#include "transport/InterfaceParameter.h"
#include "ui/DevicePropertyDialog.h"
#include "ui/DeviceUpdateWnd.h"
#include "ui/DialogTemplate.h"
#include "ui/MessageDialog.h"
#include "ui/UpdateDialogs.h"

namespace {

QString TextOf(const QWidget* dialog, int id) {
    if (auto* label = FindControl<QLabel>(dialog, id)) return label->text();
    if (auto* button = FindControl<QPushButton>(dialog, id)) return button->text();
    if (auto* edit = FindControl<QLineEdit>(dialog, id)) return edit->text();
    return QStringLiteral("<missing %1>").arg(id);
}

// A QV3108-2 of a known hardware row (boards AB CRT FC IF MB MC PS TE YF YP =
// 1 0 5 1 10 1 0 0 3 10).
DevicePtr MakeDevice(const char* serial = "012345678") {
    DeviceTraits traits;
    traits.serial = serial;
    traits.version1 = "05.100";
    traits.version2 = "02.005";
    return ::MakeDevice(traits);
}

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override { SetLanguageOverride(9); }
    UiTestEnvironment env;
};

TEST_F(Dialogs, MessageDialogFillsTheRequiredVersionInto6264) {
    const PortPtr port = SerialPort("COM3");
    const DevicePtr device = MakeDevice();
    device->CheckDeviceParameter();  // fills the required version where it applies
    const std::string required = device->GetRequiredSoftwareVersion();
    CMessageDialog dialog(port.get(), device.get(), IDS_SW_VERSION_REQUIRED);
    EXPECT_EQ(TextOf(&dialog, 6013),
              Qs("The device hardware requires at least the software version " + required + "."));
    EXPECT_FALSE(TextOf(&dialog, 6013).contains("%s"));
}

TEST_F(Dialogs, PropertiesShowTheClickedPortsDeviceWhateverItsRow) {
    CDeviceList list;
    const PortPtr first = SerialPort("COM9");
    const PortPtr second = SerialPort("COM2");
    list.Add(MakeDevice("000000001"), first, 0);
    list.Add(MakeDevice("000000002"), second, 0);

    CDevicePropertyDialog dialog(&list, second.get());
    EXPECT_EQ(dialog.Row(), 1);
    EXPECT_EQ(TextOf(&dialog, 6065), "000000002");
    EXPECT_EQ(TextOf(&dialog, 6069), "05.100-02.005");
    // Each board in its own field: AB, CRT, FC, IF, MB, YF, YP.
    const std::pair<int, const char*> boards[] = {{6071, "1"}, {6072, "0"}, {6073, "5"}, {6080, "1"},
                                                  {6074, "10"}, {6078, "3"}, {6079, "10"}};
    for (const auto& [id, value] : boards) EXPECT_EQ(TextOf(&dialog, id), value) << id;

    // The port's device went away meanwhile: an empty record.
    const PortPtr gone = SerialPort("COM5");
    CDevicePropertyDialog defaults(&list, gone.get());
    EXPECT_EQ(defaults.Row(), -1);
    EXPECT_EQ(TextOf(&defaults, 6065), "0");
    EXPECT_EQ(TextOf(&defaults, 6063), "");
}

TEST_F(Dialogs, VersionQuestionOffersOnlyCancelWhenTheChangeIsImpossible) {
    CUpdateQuestionDialog both(CUpdateQuestionDialog::kVersionQuestion, VC_DOWNGRADE | VC_CHANGE_IMPOSSIBLE);
    EXPECT_EQ(TextOf(&both, 6021), LoadText(IDS_VERSION_NEWER));
    EXPECT_EQ(TextOf(&both, 6022), LoadText(IDS_VERSION_CHANGE_IMPOSSIBLE));
    EXPECT_FALSE(FindControl<QPushButton>(&both, 1)->isVisibleTo(&both));

    AnswerNextModal(2);
    EXPECT_EQ(ShowVersionQuestion(VC_DOWNGRADE | VC_CHANGE_IMPOSSIBLE, nullptr), 0);
    AnswerNextModal(1);
    EXPECT_EQ(ShowVersionQuestion(VC_DOWNGRADE, nullptr), 1);
    EXPECT_EQ(ShowVersionQuestion(0, nullptr), 1);  // no dialog at all
}

// The conditions text (6230) as paragraphs: hand-made breaks and the
// hyphen that split a word across them are gone.
TEST_F(Dialogs, ListTextBecomesOneParagraphPerItem) {
    const struct {
        const char* text;
        std::vector<const char*> expected;
    } cases[] = {
        {"Dazu:\r\n1.  das Gerät\r\n     warm ist\r\n2.  keine Kabel ange-\r\n     schlossen sind",
         {"Dazu:", ">1.<", ">das Gerät warm ist<", ">2.<", ">keine Kabel angeschlossen sind<"}},
        {"Intro only", {"Intro only"}},
        {"A:\r\n1.  well-\r\n     Known", {">well- Known<"}},  // a capital goes on: no split word
    };
    for (const auto& c : cases) {
        const QString html = ListParagraphs(QString::fromUtf8(c.text));
        EXPECT_FALSE(html.contains(QLatin1Char('\n'))) << c.text;
        for (const char* part : c.expected) EXPECT_TRUE(html.contains(QString::fromUtf8(part))) << c.text << " / " << part;
    }
}

TEST_F(Dialogs, ProgressWindowCancelsOnceAndIgnoresPostsAfterwards) {
    CObject thread;
    int cancels = 0;
    CDeviceUpdateWnd window(QStringLiteral("QV3108-2 COM7"), &thread, [&](CObject* t) {
        EXPECT_EQ(t, &thread);
        ++cancels;
    });
    EXPECT_EQ(window.windowTitle(), "KORVA - QV3108-2 COM7");
    EXPECT_FALSE(window.windowIcon().isNull());
    auto* text = FindControl<QLabel>(&window, 6013);
    auto* bar = FindControl<QProgressBar>(&window, 6014);
    ASSERT_TRUE(text && bar);
    // Its first frame already says what is going on. (The bar and the
    // hidden cancel button during a real update are update_test.cpp's.)
    EXPECT_EQ(text->text(), "The firmware update is initiated ...");
    EXPECT_FALSE(bar->isVisible());
    const int height = text->height();
    window.PostMsg(WM_SET_UPDATE_MESSAGE, 0, IDS_PROG_TRANSMIT_DATA);
    window.PostMsg(WM_SHOW_PROGRESS_BAR, 0, 100);
    window.PostMsg(WM_HIDE_PROGRESS_BAR);
    window.PostMsg(WM_SHOW_CANCEL_BUTTON, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !FindControl<QPushButton>(&window, 6015)->isVisible(); }));
    EXPECT_EQ(text->height(), height);

    window.PostMsg(WM_SHOW_CANCEL_BUTTON, 0, 1);
    ASSERT_TRUE(WaitUntil([&] { return FindControl<QPushButton>(&window, 6015)->isVisible(); }));
    FindControl<QPushButton>(&window, 6015)->click();
    window.OnCancel();  // Escape after the window is gone changes nothing
    EXPECT_EQ(cancels, 1);
    EXPECT_TRUE(window.IsWindowDestroyed());
    EXPECT_FALSE(window.isVisible());
    window.PostMsg(WM_SET_UPDATE_MESSAGE, 0, IDS_PROG_RESTART);  // lost without effect
    WaitUntil([] { return false; }, 50);
    EXPECT_EQ(text->text(), "The new data are transmitted to the device ...");
    EXPECT_NE(env.LogText().find("Msg - CDeviceUpdateWnd\r\nCancel Button was clicked"), std::string::npos);
    EXPECT_FALSE(env.Log().IsDiscardable());
}

}  // namespace
