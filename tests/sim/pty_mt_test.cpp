// The korva-sim program run in-process: its instruments on pseudo-terminals
// behind aliases, answering through a real terminal, gone when it stops.
// The dialogue, hang-ups and faults through a terminal are the fault
// matrix's (tests/faults).
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "platform/PortAlias.h"
#include "platform/PseudoTerminal.h"
#include "platform/SysError.h"
#include "sim/PtyInstrument.h"
#include "sim/SimCommandLine.h"
#include "tests/base/support/TempDir.h"

namespace {

// A private alias folder: tests never see or touch the user's aliases.
class SimPtyTest : public ::testing::Test {
protected:
    RuntimeDirScope runtime;
};

bool HasAlias(const std::string& com) {
    for (const auto& [name, target] : platform::ListPortAliases())
        if (name == com) return true;
    return false;
}

// Reads until `until` has arrived, `ms` have passed or a read fails.
std::string ReadUntil(platform::TerminalClient& t, const std::string& until, uint32_t ms) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (until.empty() || out.find(until) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        platform::Waitable r = t.Readable();
        // Bounded by the caller's limit; the instrument answers well within it.
        if (platform::WaitForAny(&r, 1, static_cast<uint32_t>(left.count())) == platform::kWaitTimeout) break;
        uint8_t buffer[4096];
        size_t got = 0;
        const uint32_t rc = t.Read(buffer, sizeof buffer, got);
        if (rc != 0) break;
        out.append(reinterpret_cast<const char*>(buffer), got);
    }
    return out;
}

}  // namespace

TEST_F(SimPtyTest, ProgramRunsUntilStoppedAndLeavesNoAlias) {
    platform::Event stop(platform::Event::kManualReset, false);
    platform::Event ready(platform::Event::kManualReset, false);
    std::ostringstream out, err;
    std::vector<std::pair<std::string, std::string>> ports;
    int status = -1;
    std::thread run([&] {
        status = sim::RunSimulator({"--count", "2", "--com", "40", "--fast", "--serial", "000000099"}, out, err, &stop,
                                   [&](const auto& p) {
                                       ports = p;
                                       ready.Set();
                                   });
    });
    // The program is up within moments; 5 s is a generous limit.
    ASSERT_EQ(platform::WaitFor(ready, 5000), 0u);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].first, "COM40");
    EXPECT_EQ(ports[1].first, "COM41");
    EXPECT_TRUE(HasAlias("COM40"));
    EXPECT_TRUE(HasAlias("COM41"));
    platform::TerminalClient port;
    ASSERT_EQ(port.Open(ports[1].second), 0u);
    size_t written = 0;  // a few bytes into an empty terminal go at once
    ASSERT_EQ(port.Write(reinterpret_cast<const uint8_t*>("*IDN?;\n\r"), 8, written), 0u);
    ASSERT_EQ(written, 8u);
    EXPECT_EQ(ReadUntil(port, "\n\r", 2000), "KORVA,QV3108-2,000000100,HW10011000,SW05.100-02.005\n\r");
    port.Close();
    stop.Set();
    run.join();
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(HasAlias("COM40"));
    EXPECT_FALSE(HasAlias("COM41"));
    EXPECT_NE(out.str().find("COM40 -> /dev/pts/"), std::string::npos);
    EXPECT_NE(out.str().find("COM41 removed"), std::string::npos);

    // A bad option value is refused with a reason (the help text has its own test).
    std::ostringstream badOut, badErr;
    EXPECT_EQ(sim::RunSimulator({"--wrong-checksum", "sometimes"}, badOut, badErr, nullptr), 2);
    EXPECT_NE(badErr.str().find("once or always"), std::string::npos);
}
