// The dialogs and the progress window, built for real on the offscreen
// platform and read back through their control ids.
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

#include "window/StartupInfo.h"
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
#include "ui/LogFileDirectoryWnd.h"
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

TEST_F(Dialogs, MessageDialogShowsAResultCodeTextWithTheDevice) {
    const PortPtr port = SerialPort("COM7");
    const DevicePtr device = MakeDevice();
    CMessageDialog dialog(port.get(), device.get(), 0x20000001);
    EXPECT_EQ(TextOf(&dialog, 6092), "COM7");
    EXPECT_EQ(TextOf(&dialog, 6063), Qs(device->GetDeviceName()));
    EXPECT_EQ(TextOf(&dialog, 6067), "0x10011000");
    EXPECT_EQ(TextOf(&dialog, 6013), "The port state has changed.");

    CMessageDialog unknown(port.get(), device.get(), 0x20000000);
    EXPECT_EQ(TextOf(&unknown, 6013), "Unknown Error!");
    // A plain text id is shown as it is.
    CMessageDialog message(port.get(), device.get(), IDS_USB_UPDATE_NOT_SUPPORTED);
    EXPECT_EQ(TextOf(&message, 6013), LoadText(IDS_USB_UPDATE_NOT_SUPPORTED));
}

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

TEST_F(Dialogs, MessageDialogWithoutRecordLeavesNameIdAndMessageEmpty) {
    const PortPtr port = SerialPort("COM4");
    CMessageDialog dialog(port.get(), nullptr, 0x20000001);
    EXPECT_EQ(TextOf(&dialog, 6092), "COM4");
    EXPECT_EQ(TextOf(&dialog, 6063), "");
    EXPECT_EQ(TextOf(&dialog, 6013), "");
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

TEST_F(Dialogs, NoticesReturnTheAnswer) {
    AnswerNextModal(2);
    EXPECT_EQ(ShowAdjustmentNotice(nullptr), 0);
    AnswerNextModal(1);
    EXPECT_EQ(ShowAdjustmentNotice(nullptr), 1);
    AnswerNextModal(2);
    EXPECT_EQ(ShowStepNotice(nullptr), 0);
    // The serial notice returns the button number itself.
    AnswerNextModal(1);
    EXPECT_EQ(ShowSerialSettingsNotice(nullptr), 1);
    AnswerNextModal(2);
    EXPECT_EQ(ShowSerialSettingsNotice(nullptr), 2);
}

TEST_F(Dialogs, ProgressWindowFollowsPostedMessagesAndCancelsOnce) {
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
    // Its first frame already says what is going on.
    EXPECT_EQ(text->text(), "The firmware update is initiated ...");
    EXPECT_FALSE(bar->isVisible());
    const int height = text->height();

    window.PostMsg(WM_SET_UPDATE_MESSAGE, 0, IDS_PROG_TRANSMIT_DATA);
    window.PostMsg(WM_SHOW_PROGRESS_BAR, 0, 100);
    for (int i = 0; i <= 100; i += 10) window.PostMsg(WM_UPDATE_PROGRESS_BAR, 0, i);
    ASSERT_TRUE(WaitUntil([&] { return bar->value() == 100; }));
    EXPECT_EQ(text->text(), "The new data are transmitted to the device ...");
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(text->height(), height - 28);
    window.PostMsg(WM_HIDE_PROGRESS_BAR);
    window.PostMsg(WM_SHOW_CANCEL_BUTTON, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !bar->isVisible(); }));
    EXPECT_EQ(text->height(), height);
    EXPECT_FALSE(FindControl<QPushButton>(&window, 6015)->isVisible());

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

TEST_F(Dialogs, ProgressWindowWithEmptyTitleShowsTheBrandAlone) {
    CDeviceUpdateWnd window(QString(), nullptr, {});
    EXPECT_EQ(window.windowTitle(), "KORVA");
    window.OnCancel();  // no thread: nothing to tell
    EXPECT_TRUE(window.IsWindowDestroyed());
}

TEST_F(Dialogs, LogDirectoryWindowSplitsPathAndOpensTheFolderEachTime) {
    QStringList opened;
    CUpdateLogFileDirectoryWnd window(nullptr, [&](const QString& dir) {
        opened << dir;
        return true;
    });
    const QString name = Qs(env.Log().GetFileName());
    EXPECT_EQ(TextOf(&window, 6042), name);
    EXPECT_EQ(TextOf(&window, 6041) + "/" + name, Qs(env.Log().GetFilePath()));
    FindControl<QPushButton>(&window, 6043)->click();
    FindControl<QPushButton>(&window, 6043)->click();
    EXPECT_EQ(opened.size(), 2);
    EXPECT_EQ(opened.value(0), TextOf(&window, 6041));

    EXPECT_EQ(CUpdateLogFileDirectoryWnd::DirectoryOf("C:\\Temp\\KORVA\\upd_20070315_142530047.log",
                                                      "upd_20070315_142530047.log"),
              "C:\\Temp\\KORVA");
    EXPECT_EQ(CUpdateLogFileDirectoryWnd::DirectoryOf("/x/y", "zz"), "/x/y");
}

TEST_F(Dialogs, LogDirectoryWindowLogsABrowserThatCannotStart) {
    CUpdateLogFileDirectoryWnd window(nullptr, [](const QString&) { return false; });
    window.OnOpenDirectory();
    EXPECT_NE(env.LogText().find("Err - CUpdateLogFileDirectoryWnd"), std::string::npos);
}

TEST(DialogUnits, ConvertWithTheFontsAverageCharacterSize) {
    const CDialogUnits du(DialogFont());
    EXPECT_GT(du.BaseX(), 2);
    EXPECT_GT(du.BaseY(), du.BaseX());
    EXPECT_EQ(du.X(4), du.BaseX());
    EXPECT_EQ(du.Y(8), du.BaseY());
    // The main window keeps its 370:220 proportion.
    const QSize size = du.Size(370, 220);
    EXPECT_NEAR(static_cast<double>(size.width()) / size.height(),
                (370.0 * du.BaseX() / 4) / (220.0 * du.BaseY() / 8), 0.02);
}

TEST(StartupReport, HasFiveLinesAndNamesTheLanguage) {
    StartupFacts facts;
    facts.operatingSystemLine = "Debian GNU/Linux 12 (bookworm) Linux 6.1.0 Build: #1 SMP";
    facts.userLanguage = 0x0C;
    facts.hasTimeIncrement = true;
    facts.timeIncrementMs = 4.0;
    facts.usbLibraryLine = "DLL for USB devices generated - File: korva_usb.__t     Version: 1.0\r\n";
    EXPECT_EQ(BuildStartupReport(facts),
              "Debian GNU/Linux 12 (bookworm) Linux 6.1.0 Build: #1 SMP\r\n"
              "User Language: French\r\n"
              "System Time Increment: 4.0000 ms\r\n"
              "DLL for USB devices generated - File: korva_usb.__t     Version: 1.0\r\n"
              "Customer Update (Firmware Version: 05.306-02.011) - File Version: 6.000\r\n");
    facts.operatingSystemLine.clear();
    facts.hasTimeIncrement = false;
    facts.userLanguage = 0x0407;  // German (Germany): only the low 10 bits count
    EXPECT_EQ(BuildStartupReport(facts).substr(0, 24), "User Language: German\r\nD");
}

TEST(StartupReport, LanguageTableGapsAreUnknown) {
    EXPECT_EQ(LanguageName(0x61), "Nepali");  // the last row
    for (uint16_t gap : {0x17, 0x3A, 0x62, 0x3FF}) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "Unknown (0x%04X)", gap);
        EXPECT_EQ(LanguageName(gap), expected) << gap;
    }
}

}  // namespace
