// The USB transport against the simulated USB library, loaded exactly as the
// program loads the real one: written as the library file, then loaded
// through the descriptor that wrote it.

#include <atomic>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "base/MessageWindow.h"
#include "base/ResultCodes.h"
#include "base/Strings.h"
#include "platform/Clock.h"
#include "platform/SysError.h"
#include "sim/Instrument.h"
#include "sim/d2xx/SimD2xxControl.h"
#include "transport/InterfaceParameter.h"
#include "transport/UsbInterface.h"
#include "transport/UsbLibraryFile.h"
#include "transport/UsbThread.h"
#include "tests/search/support/SearchTestSupport.h"
#include "tests/transport/support/SerialTestSupport.h"

namespace {

constexpr uint32_t kFtdiId = 0x04036001;


class UsbTransport : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(usb.IsReady());
        CMessageWindow::SetMain(&window);
        m_fast.timing.fast = true;
    }
    void TearDown() override { CMessageWindow::SetMain(nullptr); }

    UsbSandbox usb{KORVA_USB_SIM_LIBRARY_PATH};
    platform::SharedLibrary& m_control = usb.Library();
    CMessageWindow window;
    sim::Config m_fast;
};

}  // namespace

// Enumeration itself is the search's and the fault matrix's over USB.
TEST_F(UsbTransport, DevicesThatCannotBeOpenedGive55) {
    ASSERT_EQ(usb.Attach("ABCDEFGHIJK", m_fast, kFtdiId), 0);  // longer than a record keeps
    ASSERT_EQ(usb.Attach("GONE1", m_fast, kFtdiId), 0);
    PortListRecorder owner;
    CUsbInterface usb(&InterfaceRecorder::OnEvent, &owner);
    ASSERT_TRUE(usb.StartPortEnumeration(nullptr)->Join(5000));
    ASSERT_EQ(owner.ports.size(), 2u);
    EXPECT_EQ(usb.Init(owner.ports[0].get()), ERROR_DEV_NOT_EXIST);
    this->usb.Unplug("GONE1");
    EXPECT_EQ(usb.Init(owner.ports[1].get()), ERROR_DEV_NOT_EXIST);
    CInterfaceParameter serial;
    serial.SetSerialPort("COM1");
    EXPECT_EQ(usb.Init(&serial), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(usb.SendSCPIMsg("*RST;"), ERROR_NOACCESS);  // nothing open
}

TEST_F(UsbTransport, APartialWriteKeepsTheRestAndWritesItAtOnce) {
    sim::Config paced;  // real line timing, so the instrument takes its input slowly
    ASSERT_EQ(usb.Attach("FT000001", paced, kFtdiId), 0);
    auto open = m_control.Bind<PFN_FT_OpenEx>("FT_OpenEx");
    auto close = m_control.Bind<PFN_FT_Close>("FT_Close");
    FT_HANDLE handle = nullptr;
    char serial[] = "FT000001";
    ASSERT_EQ(open(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle), static_cast<FT_STATUS>(FT_OK));
    EventRecorder sink;
    const auto written = [&] {
        std::vector<uint32_t> out;
        for (const auto& [code, data] : sink.Events())
            if (code == RC_PORT_DATA_WRITTEN) out.push_back(data);
        return out;
    };
    {
        CUsbThread io;
        io.SetEventHandler(&EventRecorder::OnEvent, &sink);
        io.SetDataHandler(&EventRecorder::OnData, &sink);
        ASSERT_EQ(io.Init(&m_control, handle), 0u);
        ASSERT_EQ(usb.LimitWrites("FT000001", 64, 1), 0);
        const CByteBuffer block(std::string(200, 'x'));
        ASSERT_EQ(io.WriteData(block), 0u);
        const uint32_t start = platform::GetTickCount();
        while (written().size() < 2 && platform::GetTickCount() - start < 5000) platform::Sleep(1);
        EXPECT_EQ(written(), (std::vector<uint32_t>{64, 136}));

        // Far more than the instrument holds: the rest waits for room, and
        // meanwhile nothing more is taken.
        const CByteBuffer big(std::string(9000, 'y'));
        ASSERT_EQ(io.WriteData(big), 0u);
        while (written().size() < 3 && platform::GetTickCount() - start < 5000) platform::Sleep(1);
        EXPECT_EQ(io.WriteData(block), ERROR_IO_PENDING);
        EXPECT_EQ(sink.Count(RC_PORT_TX_EMPTY), 0u);
    }
    close(handle);
    EXPECT_EQ(sink.Count(RC_PORT_ERROR), 0u);
    EXPECT_EQ(sink.Count(RC_PORT_STATE_CHANGED), 0u);
}

TEST(UsbWithoutLibrary, NoPortsAndInitRefused) {
    DeleteUsbLibraryFile();
    InterfaceRecorder owner;
    CUsbInterface usb(&InterfaceRecorder::OnEvent, &owner);
    EXPECT_FALSE(usb.HasLibrary());
    platform::Thread* thread = usb.StartPortEnumeration(nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_TRUE(thread->Join(5000));
    EXPECT_EQ(thread->ExitCode(), ERROR_INVALID_HANDLE);
    CInterfaceParameter port;
    port.SetUsbPort(kFtdiId, "FT000001");
    EXPECT_EQ(usb.Init(&port), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(owner.Count(IF_EVENT_PORT_FOUND), 0u);
}
