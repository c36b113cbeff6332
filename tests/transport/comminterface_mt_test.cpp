// The serial port interface over a scripted fake port (line errors a
// pseudo-terminal cannot make) and over a model of a real line. Opening,
// exclusive use and the bytes over a pseudo-terminal are the update
// thread's and the fault matrix's.
#include <atomic>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/ResultCodes.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "platform/SysError.h"
#include "support/LineModel.h"
#include "support/SerialTestSupport.h"
#include "transport/CommInterface.h"
#include "transport/InterfaceParameter.h"

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
