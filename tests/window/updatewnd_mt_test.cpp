// The main window's logic driven headless: port kind switches, the device
// list kept by the search's messages across cycles, the questions asked
// before an update, and a bounded stress run of switches and closes against
// slow simulated instruments. Updates themselves, success and failure over
// both kinds of port, are the fault matrix's (tests/faults).
#include <random>

#include <gtest/gtest.h>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "base/WindowMessages.h"
#include "platform/Clock.h"
#include "search/DeviceSearchDoc.h"
#include "update/DeviceUpdateDoc.h"
#include "support/SearchTestSupport.h"
#include "window/UpdateWndCore.h"

namespace {

class UpdateWnd : public ::testing::Test {
protected:
    void SetUp() override {
        core = std::make_unique<CUpdateWndCore>(main.Window(), view, false);
        main.SetNext(core->Handler());
        core->OnInitDialog();
    }
    void TearDown() override {
        core.reset();
        main.SetNext({});
    }
    bool PumpUntil(const std::function<bool()>& done, uint32_t ms) { return main.PumpUntil(done, ms); }
    // Index in the log of step `step` of cycle `cycle` (1 = the first).
    int StepOfCycle(int cycle, WPARAM step) {
        int start = -1;
        for (int c = 0; c < cycle; ++c) {
            start = main.Find(WM_START_DEVICE_SEARCH, start + 1);
            if (start < 0) return -1;
        }
        const int next = main.Find(WM_START_DEVICE_SEARCH, start + 1);
        const int end = next < 0 ? static_cast<int>(main.Log().size()) : next;
        for (int i = start + 1; i < end; ++i) {
            if (main.Log()[i].msg == WM_DEVICE_SEARCH_STEP && main.Log()[i].wParam == step) return i;
        }
        return -1;
    }

    PortSandbox ports;
    RecordingWindow main;
    CRecordingUpdateWndView view;
    std::unique_ptr<CUpdateWndCore> core;
};

}  // namespace

TEST_F(UpdateWnd, PortKindSwitchesDriveMenuAndSearch) {
    CPortMenuState initial;
    initial.usbActivate = false;  // no USB library was written
    EXPECT_EQ(view.menu, initial);
    EXPECT_FALSE(view.startUpdateEnabled);

    view.answerSerialNotice = false;
    EXPECT_FALSE(core->SwitchSerial(true));
    EXPECT_EQ(view.serialNotices, 1);
    EXPECT_FALSE(core->IsSerialOn());
    EXPECT_EQ(core->GetSearchDoc(), nullptr);
    EXPECT_EQ(view.menu, initial);
    EXPECT_TRUE(main.Log().empty());

    view.answerSerialNotice = true;
    core->OnCommand(ID_SERIAL_ACTIVATE);
    ASSERT_TRUE(core->IsSerialOn());
    ASSERT_NE(core->GetSearchDoc(), nullptr);
    EXPECT_FALSE(view.menu.serialActivate);
    EXPECT_TRUE(view.menu.serialDeactivate);
    EXPECT_TRUE(view.menu.serialChecked);
    EXPECT_EQ(main.Count(WM_START_DEVICE_SEARCH), 1u);
    EXPECT_TRUE(view.progressVisible);
    EXPECT_EQ(view.progressRange, 10);
    EXPECT_FALSE(core->SwitchUsb(true));  // greyed without the library

    core->OnCommand(ID_SERIAL_DEACTIVATE);
    EXPECT_FALSE(core->IsSerialOn());
    EXPECT_EQ(core->GetSearchDoc(), nullptr);
    EXPECT_EQ(main.Count(WM_DEVICE_SEARCH_CANCELED), 1u);
    EXPECT_FALSE(view.progressVisible);
    EXPECT_EQ(view.menu, initial);

    core->OnCommand(ID_SERIAL_ACTIVATE);
    EXPECT_NE(core->GetSearchDoc(), nullptr);
    EXPECT_EQ(main.Count(WM_START_DEVICE_SEARCH), 2u);
    core->OnCancel();
    EXPECT_EQ(core->GetSearchDoc(), nullptr);
    EXPECT_TRUE(view.ended);
}

TEST_F(UpdateWnd, ListsFoundDevicesAndDropsTheGoneOnesAtStep11OfTheNextCycle) {
    sim::Config current = FastInstrument("500000003");
    current.identity.deviceName = "QV3108";  // a name that does not fit its hardware
    auto* gone = ports.AddInstrument(FastInstrument("500000001"), 40);
    auto* updating = ports.AddInstrument(FastInstrument("500000002"), 41);
    auto* stays = ports.AddInstrument(current, 42);
    ASSERT_TRUE(gone && updating && stays);
    const std::string goneName = gone->ComName(), updatingName = updating->ComName(), staysName = stays->ComName();

    core->OnCommand(ID_SERIAL_ACTIVATE);
    ASSERT_TRUE(PumpUntil([&] { return view.rows.size() == 3; }, 5000));
    const CDeviceRow* row = view.FindRow(goneName);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->version, "05.100-02.005");
    EXPECT_EQ(row->image, ROW_IMAGE_POSSIBLE);
    EXPECT_EQ(row->state, DEVICE_STATE_POSSIBLE);
    const CDeviceRow* current_row = view.FindRow(staysName);
    ASSERT_NE(current_row, nullptr);
    EXPECT_EQ(current_row->image, ROW_IMAGE_IMPOSSIBLE);
    EXPECT_EQ(current_row->state, DEVICE_STATE_IMPOSSIBLE | DEVICE_STATE_REPORTED);
    // The reason is shown once, for that device only.
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].port->GetName(), staysName);
    EXPECT_EQ(view.messages[0].code, IDS_DEVICE_NAME_INCORRECT);
    ASSERT_NE(view.messages[0].device, nullptr);

    // Selection: only an updatable device enables Start Update.
    core->OnActivateDevice(view.FindRow(goneName)->port);
    EXPECT_TRUE(view.startUpdateEnabled);
    core->OnActivateDevice(view.FindRow(staysName)->port);
    EXPECT_FALSE(view.startUpdateEnabled);
    core->OnActivateDevice(nullptr);
    EXPECT_FALSE(view.startUpdateEnabled);

    // One goes away, one goes away while it is being updated.
    core->GetDeviceList().SetDeviceState(view.FindRow(updatingName)->port.get(), DEVICE_STATE_RUNNING);
    ports.RemoveInstrument(gone);
    ports.RemoveInstrument(updating);

    ASSERT_TRUE(PumpUntil([&] { return StepOfCycle(2, 10) >= 0; }, 17000));
    EXPECT_EQ(view.rows.size(), 3u);  // not yet: it has until step 11
    EXPECT_TRUE(view.progressVisible);
    ASSERT_TRUE(PumpUntil([&] { return StepOfCycle(2, 11) >= 0; }, 2000));
    EXPECT_FALSE(view.progressVisible);
    EXPECT_EQ(view.FindRow(goneName), nullptr);
    ASSERT_NE(view.FindRow(updatingName), nullptr);
    EXPECT_EQ(view.FindRow(updatingName)->state & DEVICE_STATE_OLD, 0);
    ASSERT_NE(view.FindRow(staysName), nullptr);
    EXPECT_EQ(view.messages.size(), 1u);  // found again: not shown again
}

TEST_F(UpdateWnd, FinishedWithNullRecordsIsRefused) {
    DevicePtr device;
    PortPtr port;
    EXPECT_EQ(core->Dispatch(WM_DEVICE_SEARCH_FINISHED, 0, 0), -1);
    EXPECT_EQ(core->Dispatch(WM_DEVICE_SEARCH_FINISHED, reinterpret_cast<WPARAM>(&device),
                             reinterpret_cast<LPARAM>(&port)),
              -1);
    EXPECT_EQ(core->GetDeviceList().GetCount(), 0);
}

// CCustomUpdateDoc alone: which questions for which version step.
TEST_F(UpdateWnd, QuestionsFollowTheVersionStep) {
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

// Kinds switched on and off, windows closed with searches running, at
// random moments, for a bounded time, with slow instruments: every round
// must end (no deadlock); ASan and TSan builds check leaks and races.
TEST(UpdateWndStress, RandomSwitchesAndClosesWithSlowInstruments) {
    PortSandbox ports;
    UsbSandbox usb(KORVA_USB_SIM_LIBRARY_PATH);
    ASSERT_TRUE(usb.IsReady());
    std::mt19937 random(20240607);
    for (int i = 0; i < 4; ++i) {
        sim::Config slow = FastInstrument("70000000" + std::to_string(i));
        slow.timing.fast = false;
        slow.timing.replyDelayMs = 100 + 200 * i;
        if (i == 3) slow.moduleReply = sim::ModuleReply::kSilent;
        ASSERT_NE(ports.AddInstrument(slow, 40 + i), nullptr);
        slow.identity.serialNumber = "71000000" + std::to_string(i);
        ASSERT_EQ(usb.Attach("SIMST" + std::to_string(i), slow), 0);
    }
    ASSERT_FALSE(ports.AddEmptyPort(50).empty());

    const uint32_t start = platform::GetTickCount();
    int rounds = 0;
    size_t found = 0;
    while (platform::GetTickCount() - start < 8000) {
        ++rounds;
        RecordingWindow main;
        CRecordingUpdateWndView view;
        auto core = std::make_unique<CUpdateWndCore>(main.Window(), view, true);
        main.SetNext(core->Handler());
        core->OnInitDialog();
        const int actions = 1 + static_cast<int>(random() % 8);
        for (int a = 0; a < actions; ++a) {
            switch (random() % 3) {
            case 0:
                core->SwitchSerial(!core->IsSerialOn());
                break;
            case 1:
                core->SwitchUsb(!core->IsUsbOn());
                break;
            default:
                break;
            }
            main.PumpUntil([] { return false; }, static_cast<uint32_t>(random() % 700));
        }
        found += main.Count(WM_DEVICE_SEARCH_FINISHED);
        switch (random() % 3) {
        case 0:
            core->OnCancel();
            break;
        case 1:
            // The window goes first: sends still under way get no answer and
            // their records must go with the senders' references.
            main.Window().Close();
            break;
        default:
            break;  // the core goes without closing steps
        }
        core.reset();
        main.SetNext({});
    }
    EXPECT_GT(rounds, 3);
    EXPECT_GT(found, 0u);
}
