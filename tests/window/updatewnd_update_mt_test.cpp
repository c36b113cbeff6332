// Updates through the main window's logic, headless: the questions asked
// before an update, and a USB instrument that never returns after its
// restart. Success and failure paths over both kinds are covered by the
// fault matrix (tests/faults).
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

// CCustomUpdateDoc alone: which questions for which version step.
TEST_F(UpdateThroughWindow, QuestionsFollowTheVersionStep) {
    MakeCore(false);
    struct Case {
        const char* version1;
        int versionAnswer;
        int adjustmentAnswer;
        std::vector<uint32_t> shown;
        uint32_t versionFlags;
    };
    const Case cases[] = {
        {"02.100", 1, 1, {6020}, 0},                    // not at once wins over everything
        {"06.000", 0, 1, {6019}, VC_DOWNGRADE},          // newer than the carried one, declined
        {"00.000", 1, 1, {6019}, VC_CHANGE_IMPOSSIBLE},  // no version: only cancel
        {"04.500", 1, 0, {6018}, 0},                    // keeps settings, adjustment declined
    };
    for (const Case& c : cases) {
        view.dialogs = CScriptedUpdateDialogs{};
        view.dialogs.answerVersionChange = c.versionAnswer;
        view.dialogs.answerAdjustment = c.adjustmentAnswer;
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
    EXPECT_EQ(Row(name)->image, ROW_IMAGE_FAILED);
    EXPECT_TRUE(view.messages.empty());  // 55 is a system error, not a result code
}

}  // namespace
