// The serial port interface over real pseudo-terminals (the test plays the
// instrument on the master side) and, for line errors a pty cannot make,
// over a scripted fake port.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <numeric>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/MessageWindow.h"
#include "base/ResultCodes.h"
#include "platform/Clock.h"
#include "platform/PortAlias.h"
#include "platform/SerialPort.h"
#include "platform/SysError.h"
#include "support/LineModel.h"
#include "support/SerialTestSupport.h"
#include "transport/CommInterface.h"
#include "transport/InterfaceParameter.h"

using namespace std::string_literals;

namespace {

class CommInterfaceOverPty : public ::testing::Test {
protected:
    void SetUp() override {
        CMessageWindow::SetMain(&window);
        ASSERT_TRUE(peer.IsOpen());
        ASSERT_EQ(platform::RegisterPortAlias("COM42", peer.SlavePath()), 0u);
        record.SetSerialPort("COM42");
    }
    void TearDown() override { CMessageWindow::SetMain(nullptr); }

    // Pumps the main window (time-outs) until `event` was seen `n` times.
    bool WaitFor(uint32_t event, size_t n = 1, uint32_t timeoutMs = 5000) {
        return window.PumpUntil([&] { return owner.Count(event) >= n; }, timeoutMs);
    }
    bool WaitForAny(std::initializer_list<uint32_t> events, uint32_t timeoutMs = 5000) {
        return window.PumpUntil(
            [&] {
                for (uint32_t e : events) {
                    if (owner.Count(e) > 0) return true;
                }
                return false;
            },
            timeoutMs);
    }

    RuntimeDirScope runtimeDir;
    CMessageWindow window;
    PtyPeer peer;
    CInterfaceParameter record;
    InterfaceRecorder owner;
};

}  // namespace

TEST_F(CommInterfaceOverPty, PortOpenedTwiceFailsCleanly) {
    CCommInterface first(&InterfaceRecorder::OnEvent, &owner);
    ASSERT_EQ(first.Init(&record), 0u);
    InterfaceRecorder owner2;
    CCommInterface second(&InterfaceRecorder::OnEvent, &owner2);
    EXPECT_EQ(second.Init(&record), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(second.SendSCPIMsg("*RST;"), ERROR_NOACCESS);
    // The first keeps working.
    ASSERT_EQ(first.SendSCPIMsg("*RST;"), 0u);
    EXPECT_EQ(peer.Receive(7), "*RST;\x0A\x0D"s);
}

TEST_F(CommInterfaceOverPty, RecordsThatCannotBeOpened) {
    CCommInterface port(&InterfaceRecorder::OnEvent, &owner);
    EXPECT_EQ(port.Init(nullptr), ERROR_INVALID_PARAMETER);
    CInterfaceParameter usb;
    usb.SetUsbPort(0x04036001, "FT123456");
    EXPECT_EQ(port.Init(&usb), ERROR_INVALID_PARAMETER);
    CInterfaceParameter missing;
    missing.SetSerialPort("COM97");  // no alias, no device
    EXPECT_NE(port.Init(&missing), 0u);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.SendData(CByteBuffer("x")), ERROR_NOACCESS);
    // Nothing was left behind: the real port opens afterwards.
    EXPECT_EQ(port.Init(&record), 0u);
}

TEST(CommInterfaceLineErrors, BitsDecideBetweenLostConnectionAndTransferError) {
    InterfaceRecorder owner;
    CCommInterface port(&InterfaceRecorder::OnEvent, &owner);
    std::atomic<FakePort*> fake{nullptr};
    port.SetPortOpener([&](const std::string&, std::unique_ptr<platform::ISerialPort>* out) {
        auto p = std::make_unique<FakePort>();
        fake = p.get();
        *out = std::move(p);
        return 0u;
    });
    CInterfaceParameter record;
    record.SetSerialPort("COM5");
    ASSERT_EQ(port.Init(&record), 0u);
    ASSERT_NE(fake.load(), nullptr);

    auto waitCount = [&](uint32_t event, size_t n) {
        for (int i = 0; i < 500 && owner.Count(event) < n; ++i) platform::Sleep(10);
        return owner.Count(event) >= n;
    };
    fake.load()->Inject(EV_ERR, CE_BREAK);
    ASSERT_TRUE(waitCount(IF_EVENT_CONNECTION_LOST, 1));
    fake.load()->Inject(EV_ERR, CE_OVERRUN, "stale");
    ASSERT_TRUE(waitCount(IF_EVENT_TRANSFER_ERROR, 1));
    fake.load()->Inject(EV_ERR, CE_IOE);
    ASSERT_TRUE(waitCount(IF_EVENT_CONNECTION_LOST, 2));
    for (const auto& e : owner.Events()) {
        EXPECT_EQ(e.text, "COM5");
        EXPECT_EQ(e.data, 0u);
    }
    // Modem line changes never reach the owner.
    fake.load()->Inject(EV_CTS);
    platform::Sleep(50);
    EXPECT_EQ(owner.Events().size(), 3u);
}

TEST(CommInterfaceLineErrors, SystemErrorsCarryATextAndForeignContextsAreDropped) {
    InterfaceRecorder owner;
    CCommInterface port(&InterfaceRecorder::OnEvent, &owner);
    CCommInterface::OnDriverEvent(RC_PORT_SYSTEM_ERROR, ERROR_ACCESS_DENIED, &port);
    CCommInterface::OnDriverEvent(RC_PORT_SYSTEM_ERROR, 0xDEADBEEF, &port);
    CObject other;
    CCommInterface::OnDriverEvent(RC_PORT_SYSTEM_ERROR, 5, &other);
    CCommInterface::OnDriverEvent(RC_PORT_STATE_CHANGED, 0, &port);
    const auto events = owner.Events();
    ASSERT_EQ(events.size(), 2u);
    for (const auto& e : events) {
        EXPECT_EQ(e.event, IF_EVENT_SYSTEM_ERROR);
        EXPECT_FALSE(e.text.empty());
    }
    // A line error before any port is open still gets a defined outcome.
    CCommInterface::OnDriverEvent(RC_PORT_ERROR, CE_FRAME, &port);
    EXPECT_EQ(owner.Events().back().event, IF_EVENT_SYSTEM_ERROR);
}

// A block over a model of a real line (queue, FIFO or converter chip, CTS,
// drain on jiffy ticks) with CTS dropped for random spans while it goes:
// every byte arrives once and in order, each chunk is confirmed on its own,
// and once the line is idle the port stops looking at it.
class CommInterfaceOverLineModel : public ::testing::TestWithParam<linemodel::LineConfig> {};

TEST_P(CommInterfaceOverLineModel, CtsHoldOffsKeepTheDataWholeAndAnIdlePortSleeps) {
    InterfaceRecorder owner;
    CCommInterface port(&InterfaceRecorder::OnEvent, &owner);
    linemodel::LineConfig config = GetParam();
    // Slow enough that the pacer waits for the queue, fast enough for a test.
    config.characterNs = 1000000;
    std::atomic<linemodel::ModelPort*> model{nullptr};
    port.SetPortOpener([&](const std::string&, std::unique_ptr<platform::ISerialPort>* out) {
        auto p = std::make_unique<linemodel::ModelPort>(config);
        model = p.get();
        *out = std::move(p);
        return 0u;
    });
    CInterfaceParameter record;
    record.SetSerialPort("COM5");
    ASSERT_EQ(port.Init(&record), 0u);
    ASSERT_NE(model.load(), nullptr);

    constexpr uint32_t kLength = 80 * 12 + 17;
    std::mt19937 random(7);
    std::vector<uint8_t> block(kLength);
    for (auto& b : block) b = static_cast<uint8_t>(random());
    ASSERT_EQ(port.SendBinaryData(block.data(), kLength), 0u);
    auto confirmed = [&] {
        for (const auto& e : owner.Events())
            if (e.event == IF_EVENT_BYTES_SENT && e.data == kLength) return true;
        return false;
    };
    while (!confirmed()) {
        model.load()->SetCts(false);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        model.load()->SetCts(true);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    }
    for (int i = 0; i < 500 && model.load()->Arrived().size() < kLength; ++i) platform::Sleep(2);
    EXPECT_EQ(model.load()->Arrived(), std::string(block.begin(), block.end()));
    std::vector<uintptr_t> counts, expected;
    for (const auto& e : owner.Events())
        if (e.event == IF_EVENT_BYTES_SENT) counts.push_back(e.data);
    for (uint32_t sent = 80; sent < kLength; sent += 80) expected.push_back(sent);
    expected.push_back(kLength);
    EXPECT_EQ(counts, expected);

    const uint64_t looks = model.load()->Looks();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LE(model.load()->Looks() - looks, 1u);
}

INSTANTIATE_TEST_SUITE_P(Hardware, CommInterfaceOverLineModel,
                         ::testing::Values(linemodel::LineConfig::Uart(), linemodel::LineConfig::UsbSerial()),
                         [](const auto& info) { return info.index == 0 ? "Uart" : "UsbSerial"; });
