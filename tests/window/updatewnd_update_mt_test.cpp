// Whole updates through the main window's logic, headless: found by the
// search, started from the list, asked about, run by the update document
// against simulated instruments on pseudo-terminals and the simulated USB
// library, and shown in the list as the Qt window would show them.
#include <gtest/gtest.h>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "platform/Clock.h"
#include "platform/SysError.h"
#include "support/SearchTestSupport.h"
#include "update/DeviceUpdateDoc.h"
#include "update/UpdateTiming.h"
#include "window/UpdateWndCore.h"

namespace {

class UpdateThroughWindow : public ::testing::Test {
protected:
    void SetUp() override { SetUpdateTiming(UpdateTiming::Shortened()); }
    void TearDown() override {
        core.reset();
        main.SetNext({});
        SetUpdateTiming(UpdateTiming::Standard());
    }
    void MakeCore(bool usb) {
        core = std::make_unique<CUpdateWndCore>(main.Window(), view, usb);
        main.SetNext(core->Handler());
        core->OnInitDialog();
    }
    const CDeviceRow* Row(const std::string& address) { return view.FindRow(address); }
    // Selects the listed device and presses Start Update; pumps until the
    // update has ended (its row no longer running and its thread gone).
    bool UpdateRow(const std::string& address, uint32_t timeoutMs = 60000) {
        const CDeviceRow* row = Row(address);
        if (row == nullptr) return false;
        core->OnActivateDevice(row->port);
        if (!view.startUpdateEnabled) return false;
        core->OnStartDeviceUpdate();
        const bool ended = main.PumpUntil(
            [&] {
                const CDeviceRow* r = Row(address);
                return r && !(r->state & DEVICE_STATE_RUNNING) && core->GetUpdateDoc() &&
                       core->GetUpdateDoc()->GetThreadCount() == 0;
            },
            timeoutMs);
        // The finished update's thread object goes on a thread of its own.
        return ended && core->GetUpdateDoc()->WaitForDestructions(5000);
    }

    PortSandbox ports;
    RecordingWindow main;
    CRecordingUpdateWndView view;
    std::unique_ptr<CUpdateWndCore> core;
};

TEST_F(UpdateThroughWindow, SerialUpdateWithAdjustmentEndsSucceededOnTheNewFirmware) {
    sim::Config config = FastInstrument();
    config.identity.version1 = "04.500";  // a step that keeps the settings and calibrates
    auto* instrument = ports.AddInstrument(config, 30);
    ASSERT_NE(instrument, nullptr);
    const std::string com = instrument->ComName();
    MakeCore(false);
    core->OnCommand(ID_SERIAL_ACTIVATE);
    ASSERT_TRUE(main.PumpUntil([&] { return Row(com) != nullptr; }, 10000));

    ASSERT_TRUE(UpdateRow(com));
    const CDeviceRow* row = Row(com);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->image, 3);
    EXPECT_TRUE(row->state & DEVICE_STATE_SUCCEEDED);
    EXPECT_EQ(row->version, "05.306-02.011");
    EXPECT_EQ(view.dialogs.shown, std::vector<uint32_t>{6018});
    EXPECT_TRUE(view.messages.empty());
    const auto snapshot = instrument->GetSnapshot();
    EXPECT_EQ(snapshot.identity.version1 + "-" + snapshot.identity.version2, "05.306-02.011");
    EXPECT_EQ(snapshot.counters.settingsWrites, 5u);
    EXPECT_EQ(snapshot.counters.calibrations, 1u);
    ASSERT_EQ(view.progressWindows.size(), 1u);
    EXPECT_EQ(view.progressWindowsOpen, 0);
    EXPECT_EQ(view.progressWindows[0]->Title(), com + " - QV3108-2 - Version: 05.306-02.011");
    EXPECT_EQ(view.progressWindows[0]->Texts().back(), IDS_PROG_ADJUST);
}

TEST_F(UpdateThroughWindow, FailureShowsItsTextAndDeclinedQuestionShowsNothing) {
    sim::Config old = FastInstrument("500000011");
    old.faults.oldMonitor = true;
    sim::Config asks = FastInstrument("500000012");
    asks.identity.version1 = "04.500";
    auto* oldOne = ports.AddInstrument(old, 30);
    auto* askedOne = ports.AddInstrument(asks, 31);
    ASSERT_TRUE(oldOne && askedOne);
    MakeCore(false);
    core->OnCommand(ID_SERIAL_ACTIVATE);
    ASSERT_TRUE(main.PumpUntil([&] { return Row(oldOne->ComName()) && Row(askedOne->ComName()); }, 10000));

    ASSERT_TRUE(UpdateRow(oldOne->ComName()));
    EXPECT_EQ(Row(oldOne->ComName())->image, 4);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].code, RC_MONITOR_UPDATE_REQUIRED);
    EXPECT_EQ(view.messages[0].port->GetName(), oldOne->ComName());

    view.dialogs.answerAdjustment = 0;
    ASSERT_TRUE(UpdateRow(askedOne->ComName()));
    EXPECT_EQ(Row(askedOne->ComName())->image, 4);
    EXPECT_EQ(view.messages.size(), 1u);  // no text for a refusal
    EXPECT_EQ(view.progressWindows.size(), 1u);  // no thread was started
    EXPECT_EQ(askedOne->GetSnapshot().counters.resets, 0u);
}

// The update document alone: which questions for which version step.
TEST_F(UpdateThroughWindow, QuestionsFollowTheVersionStep) {
    MakeCore(false);
    struct Case {
        const char* version1;
        int versionAnswer;
        std::vector<uint32_t> shown;
        uint32_t versionFlags;
    };
    const Case cases[] = {
        {"02.100", 1, {6020}, 0},                    // not at once wins over everything
        {"06.000", 0, {6019}, VC_DOWNGRADE},          // newer than the carried one, declined
        {"00.000", 1, {6019}, VC_CHANGE_IMPOSSIBLE},  // no version: only cancel
    };
    for (const Case& c : cases) {
        view.dialogs = CScriptedUpdateDialogs{};
        view.dialogs.answerVersionChange = c.versionAnswer;
        sim::Config config = FastInstrument();
        config.identity.version1 = c.version1;
        auto device = std::make_shared<CDeviceParameter>();
        device->SetIdnParameter("KORVA,QV3108-2,012345678,HW10011000,SW" + std::string(c.version1) + "-02.005");
        std::string block;
        for (const sim::BoardRecord& r : sim::Config::DefaultBoards()) {
            const char record[4] = {static_cast<char>(r.code), 0, static_cast<char>(r.value), 0};
            block.append(record, 4);
        }
        block = "#2" + std::to_string(block.size()) + block;
        ASSERT_TRUE(device->SetBoardIds(CByteBuffer(block.data(), block.size())));
        auto port = std::make_shared<CInterfaceParameter>();
        port->SetSerialPort("COM77");
        const size_t before = main.Count(WM_UPDATE_CANCELED);
        CCustomUpdateDoc doc(&main.Window(), &view.dialogs);
        doc.StartDeviceUpdate(port, device);
        EXPECT_EQ(view.dialogs.shown, c.shown) << c.version1;
        EXPECT_EQ(view.dialogs.versionFlags, c.versionFlags) << c.version1;
        EXPECT_EQ(main.Count(WM_UPDATE_CANCELED), before + 1) << c.version1;
        EXPECT_EQ(doc.GetThreadCount(), 0);
    }
}

TEST_F(UpdateThroughWindow, UsbUpdateReopensAfterTheRestart) {
    UsbSandbox usb(KORVA_USB_SIM_LIBRARY_PATH);
    ASSERT_TRUE(usb.IsReady());
    ASSERT_EQ(usb.Attach("FT000001", FastInstrument("500000021")), 0);
    // The reopen attempts at the program's own pace: the port is released
    // by the interface that goes, and a busy machine may take a while.
    UpdateTiming timing = UpdateTiming::Shortened();
    timing.usbReopenPauseMs = UpdateTiming::Standard().usbReopenPauseMs;
    SetUpdateTiming(timing);
    MakeCore(true);
    ASSERT_TRUE(core->SwitchUsb(true));
    const std::string name = "USB Pid_6001 #FT000001";
    ASSERT_TRUE(main.PumpUntil([&] { return Row(name) != nullptr; }, 10000));
    ASSERT_TRUE(UpdateRow(name));
    EXPECT_EQ(Row(name)->image, 3);
    EXPECT_EQ(Row(name)->version, "05.306-02.011");
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(UpdateThroughWindow, UsbInstrumentThatNeverComesBackAfterItsRestartEndsAfterThirtyAttempts) {
    UsbSandbox usb(KORVA_USB_SIM_LIBRARY_PATH);
    ASSERT_TRUE(usb.IsReady());
    sim::Config config = FastInstrument("500000022");
    config.faults.vanishAt = sim::Step::kRestart;  // the chip goes with the restart
    ASSERT_EQ(usb.Attach("FT000002", config), 0);
    UpdateTiming timing = UpdateTiming::Shortened();
    timing.usbReopenPauseMs = 20;
    SetUpdateTiming(timing);
    MakeCore(true);
    ASSERT_TRUE(core->SwitchUsb(true));
    const std::string name = "USB Pid_6001 #FT000002";
    ASSERT_TRUE(main.PumpUntil([&] { return Row(name) != nullptr; }, 10000));
    core->SwitchUsb(false);  // the listing would drop the gone device
    const uint32_t start = platform::GetTickCount();
    ASSERT_TRUE(UpdateRow(name));
    // 29 pauses between 30 attempts.
    EXPECT_GE(platform::GetTickCount() - start, 29u * 20u);
    EXPECT_EQ(Row(name)->image, 4);
    EXPECT_TRUE(view.messages.empty());  // 55 is a system error, not a result code
}

}  // namespace
