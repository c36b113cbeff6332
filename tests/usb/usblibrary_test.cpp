// The real USB library, loaded as the program loads it. These machines have
// no FTDI hardware, so what is checked is that it loads, lists nothing
// without error and refuses bad handles and arguments.
#include <gtest/gtest.h>

#include "platform/SharedLibrary.h"
#include "usb/ftd2xx.h"

class UsbLibrary : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(library.Load(KORVA_USB_LIBRARY_PATH), 0u) << library.LastLoaderMessage(); }
    template <class Fn>
    Fn Bind(const char* name) {
        Fn fn = library.Bind<Fn>(name);
        EXPECT_NE(fn, nullptr) << name;
        return fn;
    }
    platform::SharedLibrary library;
};

TEST_F(UsbLibrary, ListsNoDevicesWithoutHardware) {
    auto create = Bind<PFN_FT_CreateDeviceInfoList>("FT_CreateDeviceInfoList");
    auto get = Bind<PFN_FT_GetDeviceInfoList>("FT_GetDeviceInfoList");
    DWORD count = 99;
    ASSERT_EQ(create(&count), static_cast<FT_STATUS>(FT_OK));
    EXPECT_EQ(count, 0u);
    FT_DEVICE_LIST_INFO_NODE node{};
    DWORD capacity = 1;
    EXPECT_EQ(get(&node, &capacity), static_cast<FT_STATUS>(FT_OK));
    EXPECT_EQ(capacity, 0u);
    EXPECT_EQ(create(nullptr), static_cast<FT_STATUS>(FT_INVALID_PARAMETER));
}

TEST_F(UsbLibrary, RefusesUnknownHandlesAndMissingArguments) {
    auto open = Bind<PFN_FT_OpenEx>("FT_OpenEx");
    auto close = Bind<PFN_FT_Close>("FT_Close");
    auto read = Bind<PFN_FT_Read>("FT_Read");
    auto write = Bind<PFN_FT_Write>("FT_Write");
    auto queue = Bind<PFN_FT_GetQueueStatus>("FT_GetQueueStatus");
    auto latency = Bind<PFN_FT_SetLatencyTimer>("FT_SetLatencyTimer");
    auto notify = Bind<PFN_FT_SetEventNotification>("FT_SetEventNotification");
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(0x1234);
    char serial[] = "FT123456";
    EXPECT_EQ(open(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle), static_cast<FT_STATUS>(FT_DEVICE_NOT_FOUND));
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(open(nullptr, FT_OPEN_BY_SERIAL_NUMBER, &handle), static_cast<FT_STATUS>(FT_INVALID_PARAMETER));
    FT_HANDLE bogus = reinterpret_cast<FT_HANDLE>(0xDEADBEEF);
    DWORD n = 0;
    char buffer[8];
    EXPECT_EQ(close(bogus), static_cast<FT_STATUS>(FT_INVALID_HANDLE));
    EXPECT_EQ(read(bogus, buffer, sizeof buffer, &n), static_cast<FT_STATUS>(FT_INVALID_HANDLE));
    EXPECT_EQ(write(bogus, buffer, sizeof buffer, &n), static_cast<FT_STATUS>(FT_INVALID_HANDLE));
    EXPECT_EQ(queue(bogus, &n), static_cast<FT_STATUS>(FT_INVALID_HANDLE));
    EXPECT_EQ(latency(bogus, 2), static_cast<FT_STATUS>(FT_INVALID_HANDLE));
    EXPECT_EQ(notify(bogus, FT_EVENT_RXCHAR, nullptr), static_cast<FT_STATUS>(FT_INVALID_HANDLE));
}
