#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "device/DeviceInitialState.h"
#include "support/DeviceFixtures.h"

// An update thread refills the listed record while the main thread keeps
// adding search results for the same port, judging and describing them:
// every read goes through the record's lock, so nothing tears or races.
TEST(DeviceThreads, RefillWhileTheListComparesAndJudges) {
    CDeviceList list;
    PortPtr port = SerialPort("COM5");
    DevicePtr listed = MakeDevice();
    ASSERT_EQ(list.Add(listed, port, 0), 0);
    list.SetDeviceState(port.get(), DEVICE_STATE_RUNNING);

    std::atomic<bool> stop{false};
    // The update holds its own reference: the list may replace the record
    // meanwhile.
    std::thread update([&stop, record = listed] {
        const char* replies[] = {"KORVA,QV3108-2,012345678,HW10011000,SW05.306-02.011",
                                 "KORVA,QV3108-2,012345678,HW10011000,SW05.000-02.000", "KORVA,QV3108-2,0"};
        for (int i = 0; !stop.load(); ++i) {
            record->SetIdnParameter(replies[i % 3]);
            record->SetBoardIds(ModuleBlock({{5, static_cast<uint16_t>(1 + i % 2)}}));
            (void)record->HasTargetFirmware();
        }
    });
    listed.reset();
    for (int i = 0; i < 2000; ++i) {
        DeviceTraits traits;
        if (i % 7 == 0) traits.serial = "999";  // another device now and then
        const int index = list.Add(MakeDevice(traits), SerialPort("COM5"), 0);
        ASSERT_EQ(index, 0);
        DevicePtr d;
        ASSERT_EQ(list.GetDevice(port.get(), &d), 1);
        (void)SetDeviceInitialState(*port, *d, list, nullptr);
        (void)d->GetVersionChangeFlags();
        (void)d->IsMonitorSuitable(2.0);
        EXPECT_FALSE(d->GetDescription().empty());
    }
    stop = true;
    update.join();
    EXPECT_EQ(list.GetCount(), 1);
}
