#include <gtest/gtest.h>

#include <vector>

#include "device/DeviceList.h"
#include "support/DeviceFixtures.h"

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

const DeviceTraits kImpossible{"QV3108", 0x10011000};  // wrong name

class DeviceListTest : public ::testing::Test {
protected:
    LogCapture log;
    CDeviceList list;
};

}  // namespace

TEST_F(DeviceListTest, AddingTheSameDeviceAgainKeepsTheFirstRecordsAndState) {
    DevicePtr first = MakeDevice();
    PortPtr port = SerialPort("COM3");
    EXPECT_EQ(list.Add(first, port, 0), 0);
    EXPECT_EQ(list.TakeChangedFlag(), 1);
    EXPECT_EQ(list.TakeChangedFlag(), 0);
    list.SetDeviceState(port.get(), DEVICE_STATE_REPORTED);
    list.TakeChangedFlag();

    std::weak_ptr<CDeviceParameter> second = [&] {
        DevicePtr again = MakeDevice();
        EXPECT_EQ(list.Add(again, SerialPort("COM3"), 0), 0);
        return std::weak_ptr<CDeviceParameter>(again);
    }();
    EXPECT_TRUE(second.expired()) << "the second pair is not kept";
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.TakeChangedFlag(), 1);
    DevicePtr listed;
    PortPtr listedPort;
    uint8_t state = 0;
    ASSERT_EQ(list.GetDeviceAt(0, &listedPort, &listed, &state), 1);
    EXPECT_EQ(listed, first);
    EXPECT_EQ(listedPort, port);
    EXPECT_EQ(state, DEVICE_STATE_POSSIBLE | DEVICE_STATE_REPORTED);
    // One log message, for the first appearance.
    EXPECT_EQ(Count(log.Text(), "Update possible"), 1u);
}

TEST_F(DeviceListTest, AnotherDeviceOnAListedPortReplacesTheRecords) {
    DevicePtr first = MakeDevice();
    PortPtr port = SerialPort("COM3");
    list.Add(first, port, 0);
    list.SetDeviceState(port.get(), DEVICE_STATE_REPORTED);
    DevicePtr other = MakeDevice(kImpossible);
    PortPtr samePort = SerialPort("COM3");
    EXPECT_EQ(list.Add(other, samePort, 0), 0);
    DevicePtr listed;
    ASSERT_EQ(list.GetDevice(port.get(), &listed), 1);
    EXPECT_EQ(listed, other);
    EXPECT_EQ(list.GetDeviceState(port.get()), DEVICE_STATE_IMPOSSIBLE) << "new device, new state";

    const std::string text = log.Text();
    EXPECT_EQ(Count(text, "\r\nUpdate possible\r\n"), 1u);
    EXPECT_EQ(Count(text, "\r\nUpdate impossible\r\n"), 1u);
    // The entry names the port and the new device.
    EXPECT_NE(text.find("Interface: COM3\r\nDevice: QV3108_05.000-02.000"), std::string::npos) << text;
}

TEST_F(DeviceListTest, UpdateResultReplacesTheStateButKeepsTheReportedMark) {
    DevicePtr device = MakeDevice();
    PortPtr port = SerialPort("COM3");
    list.Add(device, port, 0);
    list.SetDeviceState(port.get(), DEVICE_STATE_REPORTED);
    list.SetDeviceState(port.get(), DEVICE_STATE_RUNNING);
    // The update refilled the listed record and reports it with its port.
    device->SetIdnParameter("KORVA,QV3108-2,012345678,HW10011000,SW05.306-02.011");
    EXPECT_EQ(list.Add(device, port, DEVICE_STATE_SUCCEEDED), 0);
    EXPECT_EQ(list.GetDeviceState(port.get()),
              DEVICE_STATE_SUCCEEDED | DEVICE_STATE_POSSIBLE | DEVICE_STATE_REPORTED);
    // The same record found by a search afterwards keeps that state.
    list.Add(MakeDevice({"QV3108-2", 0x10011000, {1, 0, 5, 1, 10, 1, 0, 0, 3, 10}, "05.306", "02.011"}),
             SerialPort("COM3"), 0);
    EXPECT_EQ(list.GetDeviceState(port.get()),
              DEVICE_STATE_SUCCEEDED | DEVICE_STATE_POSSIBLE | DEVICE_STATE_REPORTED);
}

TEST_F(DeviceListTest, OldEntries) {
    PortPtr com1 = SerialPort("COM1"), com2 = SerialPort("COM2"), com3 = SerialPort("COM3"),
            com4 = SerialPort("COM4");
    std::weak_ptr<CDeviceParameter> gone = [&] {
        DevicePtr d = MakeDevice();
        list.Add(d, com1, 0);
        return std::weak_ptr<CDeviceParameter>(d);
    }();
    list.Add(MakeDevice(), com2, 0);
    list.Add(MakeDevice(), com3, 0);
    list.Add(MakeDevice(), com4, 0);
    list.SetDeviceState(com2.get(), DEVICE_STATE_RUNNING);
    list.TakeChangedFlag();

    list.SetEntrieStatesToOld();
    EXPECT_EQ(list.TakeChangedFlag(), 0) << "marking is no change";
    EXPECT_EQ(list.GetDeviceState(com3.get()), DEVICE_STATE_OLD | DEVICE_STATE_POSSIBLE);
    list.Add(MakeDevice(), SerialPort("COM4"), 0);  // found again
    list.TakeChangedFlag();
    list.RemoveOldListEntries();
    EXPECT_EQ(list.TakeChangedFlag(), 1);

    // COM1 and COM3 (adjacent after COM1 goes) are removed; COM2 runs.
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_TRUE(gone.expired());
    PortPtr p;
    ASSERT_EQ(list.GetDeviceAt(0, &p, nullptr, nullptr), 1);
    EXPECT_EQ(p, com2);
    EXPECT_EQ(list.GetDeviceState(com2.get()), DEVICE_STATE_POSSIBLE | DEVICE_STATE_RUNNING);
    ASSERT_EQ(list.GetDeviceAt(1, &p, nullptr, nullptr), 1);
    EXPECT_EQ(p, com4);
    EXPECT_EQ(list.FindEntry(com3.get()), -1);
}

TEST_F(DeviceListTest, UnlistedPortsAndBadIndices) {
    list.Add(MakeDevice(), SerialPort("COM1"), 0);
    list.TakeChangedFlag();
    PortPtr unlisted = UsbPort(1, "COM1");
    list.SetDeviceState(unlisted.get(), DEVICE_STATE_RUNNING);
    EXPECT_EQ(list.TakeChangedFlag(), 0);
    EXPECT_EQ(list.GetDeviceState(unlisted.get()), 0);
    EXPECT_EQ(list.GetDeviceState(nullptr), 0);
    DevicePtr device = MakeDevice();
    EXPECT_EQ(list.GetDevice(unlisted.get(), &device), 0);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(list.FindEntry(nullptr), -1);

    PortPtr port = SerialPort("X");
    uint8_t state = 0x55;
    for (int index : {-1, 1, 1 << 30}) {
        EXPECT_EQ(list.GetDeviceAt(index, &port, &device, &state), 0);
        EXPECT_EQ(state, 0x55) << "outputs untouched";
        EXPECT_EQ(device, nullptr);
    }
    EXPECT_EQ(list.Add(nullptr, SerialPort("COM2"), 0), -1);
    EXPECT_EQ(list.Add(MakeDevice(), nullptr, 0), -1);
    EXPECT_EQ(list.GetCount(), 1);
}
