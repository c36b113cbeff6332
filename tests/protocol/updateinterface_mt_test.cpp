// The line protocol's time-outs, which fire on the main thread that pumps
// the window, racing what other threads do. (Queries answered on a port's
// reading thread are every update's, and the fault matrix runs under TSan.)
#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/SysError.h"
#include "support/FakeInterface.h"

TEST(LineProtocolThreads, DestroyingWhileTimeoutsFireNeitherHangsNorFires) {
    MainWindowScope main;
    std::atomic<int> finished{0};
    constexpr int kRounds = 20;
    std::thread worker([&] {
        for (int i = 0; i < kRounds; ++i) {
            InterfaceRecorder owner;
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
    InterfaceRecorder owner;
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
