// The line protocol with its real threads: the owner sends on its own
// thread, bytes arrive on a reading thread, time-outs fire on the main
// thread that pumps the window.
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/SysError.h"
#include "support/FakeInterface.h"

namespace {

// A port whose peer answers every write on a thread of its own, as a
// port's reading thread would deliver the reply.
class EchoPort : public FakeInterface {
public:
    explicit EchoPort(EventRecorder* owner) : FakeInterface(owner) {
        m_reader = std::thread([this] { Run(); });
    }
    ~EchoPort() override {
        CloseProtocol();
        Stop();
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_cv.notify_all();
        if (m_reader.joinable()) m_reader.join();
    }

    uint32_t SendData(const CByteBuffer& data) override {
        const uint32_t result = FakeInterface::SendData(data);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_pending;
        }
        m_cv.notify_all();
        return result;
    }

private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_cv.wait(lock, [&] { return m_stop || m_pending > 0; });
            if (m_stop) return;
            --m_pending;
            lock.unlock();
            // Split in two, so the fragment path is crossed as well.
            Receive("KORVA,QV");
            Receive("3108\x0A\x0D");
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_pending = 0;  // guarded by m_mutex
    bool m_stop = false;  // guarded by m_mutex
    std::thread m_reader;
};

}  // namespace

TEST(LineProtocolThreads, QueriesAnsweredOnTheReadingThread) {
    MainWindowScope main;
    EventRecorder owner;
    auto port = std::make_unique<EchoPort>(&owner);
    constexpr int kRounds = 300;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kRounds; ++i) {
            // Retry while the previous reply is still being delivered.
            uint32_t result;
            while ((result = port->SendSCPIMsg("*IDN?;")) == ERROR_IO_INCOMPLETE) {
                std::this_thread::yield();
            }
            ASSERT_EQ(result, 0u);
        }
        done = true;
        main.Window().PostMsg(0);  // wake the pump to look again
    });
    ASSERT_TRUE(main.Window().PumpUntil(
        [&] { return done && owner.Count(IF_EVENT_LINE_RECEIVED) == kRounds; }, 30000));
    worker.join();
    port->Stop();
    EXPECT_EQ(owner.Count(IF_EVENT_RECEIVE_TIMEOUT), 0u);
    for (const auto& line : owner.Lines()) EXPECT_EQ(line, "KORVA,QV3108");
}

TEST(LineProtocolThreads, DestroyingWhileTimeoutsFireNeitherHangsNorFires) {
    MainWindowScope main;
    std::atomic<int> finished{0};
    constexpr int kRounds = 20;
    std::thread worker([&] {
        for (int i = 0; i < kRounds; ++i) {
            EventRecorder owner;
            auto port = std::make_unique<FakeInterface>(&owner);
            port->SendSCPIMsg("*IDN?;");
            port->Receive("unfinished");  // starts the 150 ms fragment timer
            // Around the time-out, so the callback and the destructor meet.
            platform::Sleep(140 + (i % 4) * 5);
            port.reset();
            ++finished;
            main.Window().PostMsg(0);  // wake the pump to look again
        }
    });
    ASSERT_TRUE(main.Window().PumpUntil([&] { return finished == kRounds; }, 30000));
    worker.join();
    // Timers of destroyed objects must never come back.
    main.Window().PumpFor(300);
}

TEST(LineProtocolThreads, TimeoutRacingALateLineGivesOneOutcomePerExchange) {
    MainWindowScope main;
    EventRecorder owner;
    FakeInterface port(&owner);
    constexpr int kRounds = 12;
    std::atomic<int> round{0};
    std::thread reader([&] {
        for (int i = 0; i < kRounds; ++i) {
            while (port.SendSCPIMsg("*IDN?;") == ERROR_IO_INCOMPLETE) platform::Sleep(1);
            port.Receive("1,2");
            // The rest arrives right around the fragment time-out.
            platform::Sleep(145 + (i % 3) * 5);
            port.Receive("\x0A\x0D");
            round = i + 1;
            main.Window().PostMsg(0);  // wake the pump to look again
            // Let a pending time-out land before the next exchange.
            platform::Sleep(200);
        }
    });
    ASSERT_TRUE(main.Window().PumpUntil([&] { return round == kRounds; }, 30000));
    reader.join();
    main.Window().PumpFor(250);
    // Each exchange ended with exactly one of a line or a time-out.
    EXPECT_EQ(owner.Count(IF_EVENT_LINE_RECEIVED) + owner.Count(IF_EVENT_RECEIVE_TIMEOUT),
              static_cast<size_t>(kRounds));
    for (const auto& line : owner.Lines()) EXPECT_EQ(line, "1,2");
}
