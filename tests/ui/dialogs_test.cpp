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
#include "ui/AboutDlg.h"
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

PortPtr MakeSerialPort(const char* name) {
    auto port = std::make_shared<CInterfaceParameter>();
    port->SetSerialPort(name);
    return port;
}

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override { SetLanguageOverride(9); }
    UiTestEnvironment env;
};

TEST_F(Dialogs, MessageDialogShowsAResultCodeTextWithTheDevice) {
    const PortPtr port = MakeSerialPort("COM7");
    const DevicePtr device = MakeDevice();
    CMessageDialog dialog(port.get(), device.get(), 0x20000001);
    EXPECT_EQ(dialog.windowTitle(), "KORVA - Warning");
    EXPECT_EQ(TextOf(&dialog, 6091), "Address:");
    EXPECT_EQ(TextOf(&dialog, 6092), "COM7");
    EXPECT_EQ(TextOf(&dialog, 6062), "Device Name:");
    EXPECT_EQ(TextOf(&dialog, 6063), Qs(device->GetDeviceName()));
    EXPECT_EQ(TextOf(&dialog, 6066), "Hardware ID:");
    EXPECT_EQ(TextOf(&dialog, 6067), "0x10011000");
    EXPECT_EQ(TextOf(&dialog, 6013), "The port state has changed.");
    EXPECT_EQ(TextOf(&dialog, 1), "OK");

    CMessageDialog unknown(port.get(), device.get(), 0x20000000);
    EXPECT_EQ(TextOf(&unknown, 6013), "Unknown Error!");
    CMessageDialog message(port.get(), device.get(), IDS_USB_UPDATE_NOT_SUPPORTED);
    EXPECT_TRUE(TextOf(&message, 6013).startsWith("The device does not support a firmware update\nusing the USB"));
}

TEST_F(Dialogs, MessageDialogFillsTheRequiredVersionInto6264) {
    const PortPtr port = MakeSerialPort("COM3");
    const DevicePtr device = MakeDevice();
    device->CheckDeviceParameter();  // fills the required version where it applies
    const std::string required = device->GetRequiredSoftwareVersion();
    CMessageDialog dialog(port.get(), device.get(), IDS_SW_VERSION_REQUIRED);
    EXPECT_EQ(TextOf(&dialog, 6013),
              Qs("The device hardware requires at least the software version " + required + "."));
    EXPECT_FALSE(TextOf(&dialog, 6013).contains("%s"));
}

TEST_F(Dialogs, MessageDialogWithoutRecordLeavesNameIdAndMessageEmpty) {
    const PortPtr port = MakeSerialPort("COM4");
    CMessageDialog dialog(port.get(), nullptr, 0x20000001);
    EXPECT_EQ(TextOf(&dialog, 6092), "COM4");
    EXPECT_EQ(TextOf(&dialog, 6063), "");
    EXPECT_EQ(TextOf(&dialog, 6013), "");
}

TEST_F(Dialogs, PropertiesShowTheClickedPortsDeviceWhateverItsRow) {
    CDeviceList list;
    const PortPtr first = MakeSerialPort("COM9");
    const PortPtr second = MakeSerialPort("COM2");
    list.Add(MakeDevice("000000001"), first, 0);
    list.Add(MakeDevice("000000002"), second, 0);

    CDevicePropertyDialog dialog(&list, second.get());
    EXPECT_EQ(dialog.Row(), 1);
    EXPECT_EQ(TextOf(&dialog, 6065), "000000002");
    EXPECT_EQ(TextOf(&dialog, 6064), "Serial Number:");
    EXPECT_EQ(TextOf(&dialog, 6067), "0x10011000");
    EXPECT_EQ(TextOf(&dialog, 6069), "05.100-02.005");
    EXPECT_EQ(TextOf(&dialog, 6070), "Board ID Numbers:");
    EXPECT_EQ(TextOf(&dialog, 6071), "1");   // AB
    EXPECT_EQ(TextOf(&dialog, 6072), "0");   // CRT
    EXPECT_EQ(TextOf(&dialog, 6073), "5");   // FC
    EXPECT_EQ(TextOf(&dialog, 6080), "1");   // IF
    EXPECT_EQ(TextOf(&dialog, 6074), "10");  // MB
    EXPECT_EQ(TextOf(&dialog, 6078), "3");   // YF
    EXPECT_EQ(TextOf(&dialog, 6079), "10");  // YP
    EXPECT_TRUE(FindControl<QWidget>(&dialog, 6061) != nullptr);
    EXPECT_EQ(dialog.windowTitle(), "KORVA - Device Properties");
    EXPECT_EQ(TextOf(&dialog, 2), "Cancel");

    const PortPtr gone = MakeSerialPort("COM5");
    CDevicePropertyDialog defaults(&list, gone.get());
    EXPECT_EQ(defaults.Row(), -1);
    EXPECT_EQ(TextOf(&defaults, 6065), "0");
    EXPECT_EQ(TextOf(&defaults, 6063), "");
}

TEST_F(Dialogs, AboutBoxShowsTheFileVersion) {
    CAboutDlg about;
    EXPECT_EQ(about.m_strVersion, "6.000");
    EXPECT_EQ(TextOf(&about, 6053), "6.000");
    EXPECT_EQ(about.windowTitle(), "Instrument Upgrader");
}

TEST_F(Dialogs, VersionQuestionOffersOnlyCancelWhenTheChangeIsImpossible) {
    CUpdateQuestionDialog both(CUpdateQuestionDialog::kVersionQuestion, VC_DOWNGRADE | VC_CHANGE_IMPOSSIBLE);
    EXPECT_EQ(TextOf(&both, 6021), LoadText(IDS_VERSION_NEWER));
    EXPECT_EQ(TextOf(&both, 6022), LoadText(IDS_VERSION_CHANGE_IMPOSSIBLE));
    EXPECT_FALSE(FindControl<QPushButton>(&both, 1)->isVisibleTo(&both));
    EXPECT_EQ(TextOf(&both, 2), "Cancel");
    EXPECT_EQ(both.windowTitle(), "KORVA - Verification of Software Version");

    AnswerNextModal(2);
    EXPECT_EQ(ShowVersionQuestion(VC_DOWNGRADE | VC_CHANGE_IMPOSSIBLE, nullptr), 0);
    AnswerNextModal(1);
    EXPECT_EQ(ShowVersionQuestion(VC_DOWNGRADE, nullptr), 1);
    EXPECT_EQ(ShowVersionQuestion(0, nullptr), 1);  // no dialog at all

    CUpdateQuestionDialog downgrade(CUpdateQuestionDialog::kVersionQuestion, VC_DOWNGRADE);
    EXPECT_EQ(TextOf(&downgrade, 6022), "Would you now execute the software update?");
    EXPECT_EQ(TextOf(&downgrade, 1), "Yes");
    EXPECT_EQ(TextOf(&downgrade, 2), "No");
}

TEST_F(Dialogs, AdjustmentAndStepNoticesAnswer) {
    AnswerNextModal(2);
    EXPECT_EQ(ShowAdjustmentNotice(nullptr), 0);
    AnswerNextModal(1);
    EXPECT_EQ(ShowAdjustmentNotice(nullptr), 1);
    AnswerNextModal(2);
    EXPECT_EQ(ShowStepNotice(nullptr), 0);
    CUpdateQuestionDialog step(CUpdateQuestionDialog::kStepNotice, 0);
    EXPECT_TRUE(TextOf(&step, 6021).contains("02.121-xx.xxx"));
}

TEST_F(Dialogs, SerialNoticeReturnsTheButtonNumber) {
    QString title;
    AnswerNextModal(1, &title);
    EXPECT_EQ(ShowSerialSettingsNotice(nullptr), 1);
    EXPECT_EQ(title, "Serial port settings at the device");
    AnswerNextModal(2);
    EXPECT_EQ(ShowSerialSettingsNotice(nullptr), 2);
}

TEST_F(Dialogs, GermanTextsFollowTheLocale) {
    SetLanguageOverride(0);
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    QString title;
    AnswerNextModal(2, &title);
    EXPECT_EQ(ShowSerialSettingsNotice(nullptr), 2);
    EXPECT_EQ(title, "Einstellungen der seriellen Schnittstelle am Gerät");
    const PortPtr port = MakeSerialPort("COM7");
    const DevicePtr device = MakeDevice();
    CMessageDialog dialog(port.get(), device.get(), 0x20000001);
    EXPECT_EQ(dialog.windowTitle(), "KORVA - Warnung");
    EXPECT_EQ(TextOf(&dialog, 6013), "Der Status der Schnittstelle hat sich geändert.");

    ::setenv("LC_ALL", "fr_FR.UTF-8", 1);  // every other language is English
    CMessageDialog french(port.get(), device.get(), 0x20000001);
    EXPECT_EQ(french.windowTitle(), "KORVA - Warning");
    ::unsetenv("LC_ALL");
}

TEST_F(Dialogs, ProgressWindowFollowsPostedMessagesAndCancelsOnce) {
    CObject thread;
    int cancels = 0;
    CDeviceUpdateWnd window(QStringLiteral("QV3108-2 COM7"), &thread, [&](CObject* t) {
        EXPECT_EQ(t, &thread);
        ++cancels;
    });
    EXPECT_EQ(window.windowTitle(), "KORVA - QV3108-2 COM7");
    auto* text = FindControl<QLabel>(&window, 6013);
    auto* bar = FindControl<QProgressBar>(&window, 6014);
    ASSERT_TRUE(text && bar);
    EXPECT_FALSE(bar->isVisible());
    const int height = text->height();

    window.PostMessage(WM_SET_UPDATE_MESSAGE, 0, IDS_PROG_TRANSMIT_DATA);
    window.PostMessage(WM_SHOW_PROGRESS_BAR, 0, 100);
    for (int i = 0; i <= 100; i += 10) window.PostMessage(WM_UPDATE_PROGRESS_BAR, 0, i);
    ASSERT_TRUE(WaitUntil([&] { return bar->value() == 100; }));
    EXPECT_EQ(text->text(), "The new data are transmitted to the device ...");
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(text->height(), height - 28);
    window.PostMessage(WM_HIDE_PROGRESS_BAR);
    window.PostMessage(WM_SHOW_CANCEL_BUTTON, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return !bar->isVisible(); }));
    EXPECT_EQ(text->height(), height);
    EXPECT_FALSE(FindControl<QPushButton>(&window, 6015)->isVisible());

    window.PostMessage(WM_SHOW_CANCEL_BUTTON, 0, 1);
    ASSERT_TRUE(WaitUntil([&] { return FindControl<QPushButton>(&window, 6015)->isVisible(); }));
    FindControl<QPushButton>(&window, 6015)->click();
    window.OnCancel();  // Escape after the window is gone changes nothing
    EXPECT_EQ(cancels, 1);
    EXPECT_TRUE(window.IsWindowDestroyed());
    EXPECT_FALSE(window.isVisible());
    window.PostMessage(WM_SET_UPDATE_MESSAGE, 0, IDS_PROG_RESTART);  // lost without effect
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
    EXPECT_TRUE(name.startsWith("upd_"));
    EXPECT_EQ(TextOf(&window, 6042), name);
    EXPECT_EQ(TextOf(&window, 6041) + "/" + name, Qs(env.Log().GetFilePath()));
    EXPECT_EQ(TextOf(&window, 6021), "Path");
    EXPECT_EQ(TextOf(&window, 6022), "File");
    EXPECT_EQ(TextOf(&window, 6043), "Open Directory");
    EXPECT_EQ(window.windowTitle(), "KORVA - Log File Directory");
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
    EXPECT_EQ(LanguageName(0x00), "Neutral");
    EXPECT_EQ(LanguageName(0x1A), "Croatian/Serbian");
    EXPECT_EQ(LanguageName(0x4A), "Teluga");
    EXPECT_EQ(LanguageName(0x61), "Nepali");
    for (uint16_t gap : {0x17, 0x28, 0x2E, 0x30, 0x35, 0x3A, 0x3D, 0x40, 0x42, 0x50, 0x56, 0x5A, 0x5F, 0x62, 0x3FF}) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "Unknown (0x%04X)", gap);
        EXPECT_EQ(LanguageName(gap), expected) << gap;
    }
}

}  // namespace
