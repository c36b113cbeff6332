// The serial driver over real pseudo-terminal pairs, and over a fake port
// for the line errors a pseudo-terminal cannot produce.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/ResultCodes.h"
#include "platform/PortAlias.h"
#include "platform/SysError.h"
#include "support/SerialTestSupport.h"
#include "transport/CommDriver.h"

namespace {

class CommDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.IsOpen());
        ASSERT_EQ(platform::RegisterPortAlias("COM7", peer.SlavePath()), 0u);
    }
    // The settings the serial interface chooses for the instrument.
    static void ConfigureForInstrument(CCommDriver& driver) {
        driver.SetBaudRate(115200);
        driver.SetParity(0);
        driver.SetStopBits(2);
        driver.SetByteSize(8);
        driver.SetHandshake(0x10, 0x11, 0x13);
        driver.SetDsrSensitivity(0);
        driver.SetBufferSize(1024, 1024);
    }
    void Attach(CCommDriver& driver) {
        driver.SetEventHandler(&EventRecorder::OnEvent, &recorder);
        driver.SetDataHandler(&EventRecorder::OnData, &recorder);
    }

    RuntimeDirScope runtime;
    LogCapture log;
    PtyPeer peer;
    EventRecorder recorder;
};

size_t IndexOf(const std::vector<std::pair<uint32_t, uint32_t>>& events, uint32_t code, size_t from = 0) {
    for (size_t i = from; i < events.size(); ++i)
        if (events[i].first == code) return i;
    return events.size();
}

}  // namespace

// The bytes themselves are carried in every update of the fault matrix.
TEST_F(CommDriverTest, OpensByPrefixedLowerCaseName) {
    CCommDriver driver;
    ConfigureForInstrument(driver);
    Attach(driver);
    ASSERT_EQ(driver.Init("\\\\.\\com7"), 0u);
    EXPECT_TRUE(driver.IsOpen());
    EXPECT_EQ(driver.GetPortName(), "COM7");
    // A pseudo-terminal has no modem lines: one state change with 0 at open.
    ASSERT_FALSE(recorder.Events().empty());
    EXPECT_EQ(recorder.Events()[0], std::make_pair(RC_PORT_STATE_CHANGED, 0u));
}

// The instrument's hardware handshake as the port is asked for it; a
// pseudo-terminal ignores it, a real line needs it.
TEST(CommDriverSettings, HardwareHandshakeAndSoftwareFlow) {
    CCommDriver driver;
    driver.SetHandshake(0x10, 0x11, 0x13);
    EXPECT_EQ(driver.GetSettings().fOutxCtsFlow, 1u);
    EXPECT_EQ(driver.GetSettings().fRtsControl, RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(driver.GetSettings().fOutX, 0u);
    // Software flow clears the hardware handshake's upper bits.
    driver.SetHandshake(0x01 | 0x80, 0x11, 0x13);
    EXPECT_EQ(driver.GetSettings().fOutX, 1u);
    EXPECT_EQ(driver.GetSettings().fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(driver.GetSettings().fRtsControl, RTS_CONTROL_DISABLE);
}

TEST(CommDriverNames, NameWithoutComAndClosedDriver) {
    CCommDriver driver;
    EXPECT_EQ(driver.Init("LPT1"), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(driver.IsOpen());
    EXPECT_EQ(driver.WriteData(CByteBuffer("x")), ERROR_NOACCESS);
    EXPECT_EQ(driver.ClearBuffers(), ERROR_NOACCESS);
    EXPECT_EQ(driver.GetPortName(), "");
}

TEST_F(CommDriverTest, ARunningWriteRefusesTheNextWith997) {
    CCommDriver driver;
    Attach(driver);
    ASSERT_EQ(driver.Init("COM7"), 0u);
    // Far more than the pseudo-terminal holds while nobody reads: the write
    // cannot finish at once.
    const std::string big(256 * 1024, 'A');
    ASSERT_EQ(driver.WriteData(CByteBuffer(big)), 0u);
    EXPECT_EQ(driver.WriteData(CByteBuffer("B")), ERROR_IO_PENDING);
    EXPECT_EQ(recorder.Count(RC_PORT_DATA_WRITTEN), 0u);
    EXPECT_EQ(peer.Receive(big.size(), 20000).size(), big.size());
    ASSERT_TRUE(recorder.WaitForEvent(RC_PORT_TX_EMPTY));
    const auto events = recorder.Events();
    const size_t written = IndexOf(events, RC_PORT_DATA_WRITTEN);
    ASSERT_LT(written, events.size());
    EXPECT_EQ(events[written].second, big.size());
    EXPECT_EQ(driver.WriteData(CByteBuffer("B")), 0u);
    EXPECT_EQ(peer.Receive(1), "B");
}

TEST_F(CommDriverTest, PeerHangUpReopensWhenThePortIsBack) {
    CCommDriver driver;
    Attach(driver);
    ASSERT_EQ(driver.Init("COM7"), 0u);
    // The alias already names a new cable when the old one goes.
    PtyPeer second;
    ASSERT_EQ(platform::RemovePortAlias("COM7"), 0u);
    ASSERT_EQ(platform::RegisterPortAlias("COM7", second.SlavePath()), 0u);
    peer.HangUp();
    ASSERT_TRUE(recorder.WaitForEvent(RC_PORT_STATE_CHANGED, 2));  // the reopen's
    driver.GetSettings();
    EXPECT_EQ(recorder.Count(RC_PORT_SYSTEM_ERROR), 0u);
    EXPECT_TRUE(driver.IsOpen());
    EXPECT_EQ(driver.GetPortName(), "COM7");
    ASSERT_EQ(driver.WriteData(CByteBuffer("again")), 0u);
    EXPECT_EQ(second.Receive(5), "again");
    ASSERT_TRUE(second.Send("back"));
    EXPECT_TRUE(recorder.WaitForData(4));
}

TEST_F(CommDriverTest, DestructionWhileTheOwnerKeepsSendingDoesNotHang) {
    auto driver = std::make_unique<CCommDriver>();
    Attach(*driver);
    CCommDriver* raw = driver.get();
    std::atomic<int> sends{0};
    // Every transmit-empty sends the next chunk from the I/O thread, as the
    // line protocol does.
    recorder.onEvent = [&](uint32_t code, uint32_t) {
        if (code == RC_PORT_TX_EMPTY) {
            raw->WriteData(CByteBuffer(std::string(80, 'x')));
            ++sends;
        }
    };
    ASSERT_EQ(driver->Init("COM7"), 0u);
    ASSERT_EQ(driver->WriteData(CByteBuffer(std::string(80, 'x'))), 0u);
    std::atomic<bool> draining{true};
    std::thread reader([&] {
        while (draining) peer.Receive(4096, 20);
    });
    while (sends < 20) std::this_thread::yield();
    driver.reset();
    draining = false;
    reader.join();
    SUCCEED();
}

// ---- line errors through a fake port ----

namespace {

class FakeDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        driver.SetPortOpener([this](const std::string& name, std::unique_ptr<platform::ISerialPort>* port) {
            names.push_back(name);
            if (const uint32_t rc = failOpens.load()) return rc;
            auto fake = std::make_unique<FakePort>();
            ports.push_back(fake.get());
            *port = std::move(fake);
            return 0u;
        });
        driver.SetEventHandler(&EventRecorder::OnEvent, &recorder);
        driver.SetDataHandler(&EventRecorder::OnData, &recorder);
        ASSERT_EQ(driver.Init("COM3"), 0u);
    }

    LogCapture log;
    EventRecorder recorder;
    std::vector<std::string> names;
    std::vector<FakePort*> ports;  // owned by the driver (valid while it keeps them)
    std::atomic<uint32_t> failOpens{0};
    CCommDriver driver;
};

}  // namespace

TEST_F(FakeDriverTest, ModeErrorReopensSilently) {
    ports[0]->Inject(EV_ERR, CE_MODE);
    ASSERT_TRUE(recorder.WaitForEvent(RC_PORT_STATE_CHANGED, 2));  // the reopen's
    driver.GetSettings();  // under the Rx lock: returns once the reopen is through
    EXPECT_EQ(names, (std::vector<std::string>{"COM3", "COM3"}));
    EXPECT_EQ(recorder.Count(RC_PORT_ERROR), 0u);
    EXPECT_EQ(recorder.Count(RC_PORT_SYSTEM_ERROR), 0u);
    EXPECT_TRUE(driver.IsOpen());
    // The new port works; the old one is closed.
    ASSERT_EQ(driver.WriteData(CByteBuffer("abc")), 0u);
    ASSERT_TRUE(recorder.WaitForEvent(RC_PORT_TX_EMPTY));
    EXPECT_EQ(ports[1]->Written(), "abc");
    EXPECT_EQ(ports[0]->Written(), "");
}

TEST_F(FakeDriverTest, ModeErrorWithAFailedReopenReportsTheSystemError) {
    failOpens = ERROR_FILE_NOT_FOUND;
    ports[0]->Inject(EV_ERR, CE_MODE | CE_FRAME);
    ASSERT_TRUE(recorder.WaitForEvent(RC_PORT_SYSTEM_ERROR));
    EXPECT_EQ(recorder.Events().back(), std::make_pair(RC_PORT_SYSTEM_ERROR, ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(driver.IsOpen());
}

TEST_F(FakeDriverTest, ThreadErrorReopensOnce) {
    ports[0]->SetCommEventError(ERROR_GEN_FAILURE);
    ASSERT_TRUE(recorder.WaitForEvent(RC_PORT_STATE_CHANGED, 2));
    driver.GetSettings();
    EXPECT_EQ(names.size(), 2u);
    EXPECT_TRUE(driver.IsOpen());
    const std::string text = log.Text();
    EXPECT_NE(text.find("CCommThread::Execute - 0x0000001F"), std::string::npos);
    EXPECT_NE(text.find("CCommDriver::OnPortEvent - 0x20000004"), std::string::npos);
}
