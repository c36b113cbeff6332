#include <gtest/gtest.h>

#include <vector>

#include "base/StringIds.h"
#include "base/WindowMessages.h"
#include "device/DeviceInitialState.h"
#include "support/DeviceFixtures.h"

namespace {

DeviceTraits WithVersion1(const char* version1) {
    DeviceTraits traits;
    traits.version1 = version1;
    return traits;
}

}  // namespace

TEST(Compatibility, CheckDeviceParameter) {
    struct Case {
        const char* what;
        DeviceTraits traits;
        uint32_t result;
    };
    const Boards row13 = {1, 0, 1, 0, 10, 0, 0, 0, 3, 2};
    const Case cases[] = {
        {"row 21, 05.000-02.000", {}, 0},
        {"name without -2 on 0x10011000", {"QV3108", 0x10011000}, IDS_DEVICE_NAME_INCORRECT},
        {"built name QV3108 is not the carried one", {"QV3108", 0x10010000, row13}, IDS_DEVICE_NOT_UPDATABLE},
        {"development name on carried hardware", {"QV0000-2"}, IDS_DEVICE_NOT_UPDATABLE},
        {"no match", {"QV3108-2", 0x10011000, {}}, IDS_HARDWARE_NOT_COMMERCIAL},
        {"no software version", {"QV3108-2", 0x10011000, {1, 0, 5, 1, 10, 1, 0, 0, 3, 10}, "", ""},
         IDS_HARDWARE_NOT_COMMERCIAL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(MakeDevice(c.traits)->CheckDeviceParameter(), c.result);
    }
}

TEST(Compatibility, TooNewHardwareNamesTheVersionItNeeds) {
    std::vector<HardwareConfigRow> table(HardwareConfigTable().begin(), HardwareConfigTable().end());
    DevicePtr d = MakeDevice();
    table[21].minVersion1 = "05.306";
    table[21].minVersion2 = "02.012";
    EXPECT_EQ(d->CheckDeviceParameter(table), IDS_SW_VERSION_REQUIRED);
    EXPECT_EQ(d->GetRequiredSoftwareVersion(), "05.306-02.012");
    table[21].minVersion1 = "05.307";
    table[21].minVersion2 = "02.000";
    EXPECT_EQ(d->CheckDeviceParameter(table), IDS_SW_VERSION_REQUIRED);
    EXPECT_EQ(d->GetRequiredSoftwareVersion(), "05.307-02.000");
    table[21].minVersion1 = "05.306";  // exactly the carried version: enough
    table[21].minVersion2 = "02.011";
    EXPECT_EQ(d->CheckDeviceParameter(table), 0u);
    // A table shorter than the matched row: the row is unknown.
    EXPECT_EQ(d->CheckDeviceParameter(std::span(table).first(21)), IDS_HARDWARE_NOT_COMMERCIAL);
    EXPECT_EQ(d->CheckDeviceParameter(), 0u);
}

TEST(Compatibility, VersionChangeFlags) {
    struct Case {
        const char* version1;
        uint32_t flags;
    };
    const Case cases[] = {
        {"05.000", 0},                                    // row 46
        {"04.100", VC_KEEP_SETTINGS | VC_CALIBRATE},      // row 42
        {"02.100", VC_NOT_AT_ONCE | VC_NO_USB_UPDATE},    // row 1
        {"02.120", VC_NOT_AT_ONCE | VC_NO_USB_UPDATE},    // upper bound of row 1
        {"02.121", VC_NO_USB_UPDATE | VC_KEEP_SETTINGS | VC_CALIBRATE},  // row 3
        {"03.099", VC_NO_USB_UPDATE | VC_KEEP_SETTINGS | VC_CALIBRATE},  // row 27
        {"04.003", VC_KEEP_SETTINGS | VC_CALIBRATE},      // row 37
        {"05.306", 0},
        {"05.400", VC_DOWNGRADE},                         // row 46 covers both
        {"99.999", VC_DOWNGRADE},                         // bounds inclusive
        {"00.999", VC_CHANGE_IMPOSSIBLE},                 // below every row
        {"02.1205", VC_NOT_AT_ONCE | VC_NO_USB_UPDATE},   // only six characters are kept
        {"", VC_CHANGE_IMPOSSIBLE},
        {"abcdef", VC_CHANGE_IMPOSSIBLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version1);
        // The version alone decides; the record must still carry a target.
        DevicePtr d = MakeDevice();
        d->SetIdnParameter(std::string("KORVA,QV3108-2,012345678,HW10011000,SW") + c.version1 + "-02.000");
        EXPECT_EQ(d->GetVersionChangeFlags(), c.flags);
    }
    // Development names are never judged.
    DevicePtr dev = MakeDevice({"QV0000", 0x10011000});
    EXPECT_EQ(dev->GetVersionChangeFlags(), 0u);
    // Without a match there is no carried version to compare.
    EXPECT_EQ(MakeDevice({"QV3108-2", 0x10011000, {}})->GetVersionChangeFlags(), VC_CHANGE_IMPOSSIBLE);
}

TEST(Compatibility, CarriedRangesOfEachDeviceRangeLeaveNoGap) {
    // For each device range, the carried ranges follow each other without
    // a gap from 1.000 to 99.999 (three decimals).
    const auto table = VersionChangeTable();
    for (size_t i = 0; i < table.size();) {
        double expectFrom = 1.000;
        size_t j = i;
        for (; j < table.size() && table[j].deviceFrom == table[i].deviceFrom; ++j) {
            EXPECT_NEAR(table[j].carriedFrom, expectFrom, 1e-9) << "row " << j;
            expectFrom = table[j].carriedTo + 0.001;
        }
        EXPECT_EQ(table[j - 1].carriedTo, 99.999) << "row " << j - 1;
        i = j;
    }
}

TEST(Compatibility, IsMonitorSuitable) {
    struct Case {
        uint16_t mc;
        double monitor;
        bool suitable;
    };
    const Case cases[] = {{0, 1.99, true}, {0, 2.0, false}, {1, 2.0, true},  {2, 2.0, true},
                          {2, 1.99, false}, {3, 2.0, false}, {3, 1.0, false}, {0xFFFF, 9.0, false}};
    for (const Case& c : cases) {
        CDeviceParameter d;
        d.SetBoardIds(ModuleBlock({{5, c.mc}}));
        EXPECT_EQ(d.IsMonitorSuitable(c.monitor), c.suitable) << c.mc << " " << c.monitor;
    }
}

TEST(Compatibility, HasTargetFirmware) {
    EXPECT_FALSE(MakeDevice()->HasTargetFirmware());
    EXPECT_FALSE(CDeviceParameter().HasTargetFirmware()) << "an empty record has no target";
    const std::pair<const char*, bool> replies[] = {
        {"KORVA,QV3108-2,012345678,HW10011000,SW05.306-02.011", true},
        {"KORVA,QV3108-2,012345678,HW10011000,SW05.306-02.010", false},
        {"KORVA,QV3108,012345678,HW10011000,SW05.306-02.011", false},
    };
    for (const auto& [reply, target] : replies) {
        DevicePtr after = MakeDevice(WithVersion1("05.306"));
        after->SetIdnParameter(reply);
        EXPECT_EQ(after->HasTargetFirmware(), target) << reply;
    }
}

namespace {

struct Shown {
    uint32_t reason;
    const CInterfaceParameter* port;
};

// The main window as far as the initial state needs it.
class InitialStateTest : public ::testing::Test {
protected:
    InitialStateTest()
        : window([this](uint32_t msg, WPARAM w, LPARAM l) -> LRESULT {
              if (msg == WM_SHOW_MESSAGE_DLG)
                  shown.push_back({static_cast<uint32_t>(w), reinterpret_cast<const CInterfaceParameter*>(l)});
              return 0;
          }) {}

    // What OnDeviceSearchFinished does: add, decide on the listed records,
    // store the state.
    uint8_t Found(DevicePtr device, PortPtr port, uint8_t initial = 0) {
        const int index = list.Add(std::move(device), std::move(port), initial);
        PortPtr listedPort;
        DevicePtr listedDevice;
        EXPECT_EQ(list.GetDeviceAt(index, &listedPort, &listedDevice, nullptr), 1);
        const uint8_t state = SetDeviceInitialState(*listedPort, *listedDevice, list, &window);
        list.SetDeviceState(listedPort.get(), state);
        return state;
    }

    LogCapture log;
    std::vector<Shown> shown;
    CMessageWindow window;
    CDeviceList list;
};

}  // namespace

// A reason shown once per device over search cycles, and none for an
// updatable one, is the main window's test (tests/window).
TEST_F(InitialStateTest, OldFirmwareOnUsbIsRefusedBeforeAnyUpdate) {
    PortPtr usb = UsbPort(0x04036001, "FT123456");
    EXPECT_EQ(Found(MakeDevice(WithVersion1("02.100")), usb), DEVICE_STATE_IMPOSSIBLE);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].reason, IDS_USB_UPDATE_NOT_SUPPORTED);
    // The same device on a serial port may be updated (the version step is
    // judged when the update starts).
    EXPECT_EQ(Found(MakeDevice(WithVersion1("02.100")), SerialPort("COM1")), DEVICE_STATE_POSSIBLE);
    // 04.000 and above is fine over USB.
    EXPECT_EQ(Found(MakeDevice(WithVersion1("04.000")), UsbPort(0x04036001, "FT999")), DEVICE_STATE_POSSIBLE);
    EXPECT_EQ(shown.size(), 1u);
}

TEST_F(InitialStateTest, WithoutAWindowTheReasonWaits) {
    PortPtr port = SerialPort("COM4");
    DevicePtr d = MakeDevice({"QV3108", 0x10011000});
    list.Add(d, port, 0);
    EXPECT_EQ(SetDeviceInitialState(*port, *d, list, nullptr), DEVICE_STATE_IMPOSSIBLE);
    EXPECT_EQ(list.GetDeviceState(port.get()) & DEVICE_STATE_REPORTED, 0);
    EXPECT_EQ(SetDeviceInitialState(*port, *d, list, &window), DEVICE_STATE_IMPOSSIBLE);
    EXPECT_EQ(shown.size(), 1u);
}
