// The update thread against the simulated instrument on a pseudo-terminal:
// whole updates, every fault the simulator can show, cancels, retries and
// destruction while it runs. The pauses are shortened (UpdateTiming); the
// slow suite runs one update at full length.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "base/ResultCodes.h"
#include "base/StringIds.h"
#include "base/WindowMessages.h"
#include "platform/SysError.h"
#include "resources/FirmwareImage.h"
#include "support/InstrumentPeer.h"
#include "support/LineModel.h"
#include "support/UpdateTestSupport.h"
#include "transport/CommDriver.h"

using namespace updtest;

namespace {

class UpdateThreadTest : public ::testing::Test {
protected:
    void SetUp() override { SetUpdateTiming(UpdateTiming::Shortened()); }
    void TearDown() override { SetUpdateTiming(UpdateTiming::Standard()); }

    // Starts a simulator with `config` on a fresh COM alias.
    std::unique_ptr<sim::CPtyInstrument> StartSim(const sim::Config& config) {
        auto instrument = std::make_unique<sim::CPtyInstrument>(config);
        EXPECT_EQ(instrument->Start(20), 0u);
        return instrument;
    }
    // One update of a simulator built from `config`.
    uint32_t RunUpdate(const sim::Config& config, uint32_t keep = 0, uint32_t calibrate = 0,
                       const std::function<void(CRecordingProgressWindow&, CDevUpdateThread&)>& step = {}) {
        m_sim = StartSim(config);
        m_device = MakeDevice(config);
        return m_harness.Run(SerialPort(m_sim->ComName()), m_device, keep, calibrate, step);
    }
    std::string Running() {
        const auto id = m_sim->GetSettledSnapshot(3000).identity;
        return id.version1 + "-" + id.version2;
    }
    sim::CInstrument::Counters Counters() { return m_sim->GetSettledSnapshot(3000).counters; }

    RuntimeDirScope m_runtime;
    CUpdateHarness m_harness;
    std::unique_ptr<sim::CPtyInstrument> m_sim;
    DevicePtr m_device;
};

// The kept settings coming back, the calibration and the stores are the
// fault matrix's (clean_keep_settings and the noise rows).
TEST_F(UpdateThreadTest, ThreeSettingsPiecesAreThreeMessagesTheLastClosed) {
    LogCapture log;
    sim::Config config = FastConfig();
    config.settings = {{"CH1:OFFS", "4"}, {"CH2:OFFS", "5"}, {"TRIG:LEV", "6"}};
    ASSERT_EQ(RunUpdate(config, 1, 0), RC_UPDATE_FINISHED);
    EXPECT_EQ(Counters().settingsWrites, 3u);
    EXPECT_EQ(CountCommand(log.Text(), ":Service:Mode kAccess;:ADJ:CH1:OFFS 4;"), 1);
    EXPECT_EQ(CountCommand(log.Text(), ":Service:Mode kAccess;:ADJ:CH2:OFFS 5;"), 1);
    EXPECT_EQ(CountCommand(log.Text(), ":Service:Mode kAccess;:ADJ:TRIG:LEV 6;"), 1);
}

TEST_F(UpdateThreadTest, RetryCountsOfLoadChecksumAndRestart) {
    {
        sim::Config config = FastConfig();
        config.faults.dropImageByteAt = 1000;
        config.faults.imageFaultEveryLoad = true;
        ASSERT_EQ(RunUpdate(config), RC_UPDATE_REPEAT);
        EXPECT_EQ(Counters().loads, 3u);
        EXPECT_EQ(Counters().checksums, 0u);
    }
    {
        sim::Config config = FastConfig();
        config.faults.wrongChecksum = sim::ChecksumFault::kAlways;
        ASSERT_EQ(RunUpdate(config), RC_UPDATE_REPEAT);
        EXPECT_EQ(Counters().loads, 3u);
        EXPECT_EQ(Counters().checksums, 3u);
        EXPECT_EQ(Counters().flashPrograms, 0u);
    }
    {
        // The FLASH never sums right: programmed three times, then given up.
        sim::Config config = FastConfig();
        config.faults.wrongFlashChecksum = true;
        ASSERT_EQ(RunUpdate(config), RC_UPDATE_REPEAT);
        EXPECT_EQ(Counters().loads, 1u);
        EXPECT_EQ(Counters().flashPrograms, 3u);
    }
    {
        LogCapture log;
        sim::Config config = FastConfig();
        config.faults.answerRs = -1;
        ASSERT_EQ(RunUpdate(config), RC_UPDATE_DATA_RECEIVED);
        EXPECT_EQ(CountCommand(log.Text(), "rs"), 10);
        EXPECT_EQ(Counters().flashPrograms, 1u);
    }
}

// A monitor of version 2.00 exactly runs its application from 0x10000: the
// FLASH is programmed there, or the restarted instrument runs its old firmware.
TEST_F(UpdateThreadTest, MonitorTwoPointZeroTakesTheNewFlashStart) {
    sim::Config config = FastConfig();
    config.monitorVersion = "2.00";
    ASSERT_EQ(RunUpdate(config), RC_UPDATE_FINISHED);
    EXPECT_EQ(Running(), "05.306-02.011");
}

TEST_F(UpdateThreadTest, ChecksumTextMustBeTheWholeNumber) {
    size_t end = 0;
    EXPECT_TRUE(CDevUpdateThread::FindChecksum("Calculate Checksum0x8a1f3cMonDeb>", 0x8a1f3c, &end));
    EXPECT_EQ(end, std::string("Calculate Checksum0x8a1f3c").size());
    EXPECT_FALSE(CDevUpdateThread::FindChecksum("0x8a1f3c5", 0x8a1f3c, nullptr));
    EXPECT_FALSE(CDevUpdateThread::FindChecksum("0x008a1f3c", 0x8a1f3c, nullptr));
    EXPECT_FALSE(CDevUpdateThread::FindChecksum("0x8A1F3C", 0x8a1f3c, nullptr));
    EXPECT_TRUE(CDevUpdateThread::FindChecksum("0x8a1f3c5 0x8a1f3c", 0x8a1f3c, nullptr));
}

// Cancel from the progress window while each step before the FLASH runs:
// the update ends without a result code, the FLASH is never touched, and
// the instrument is not left in its monitor. (During the transfer: the
// fault matrix's cancel_during_transfer, over both kinds of port.)
class UpdateCancelTest : public UpdateThreadTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(UpdateCancelTest, CancelBeforeFlashProgrammingLeavesTheFirmware) {
    const uint32_t trigger = GetParam();
    m_harness.CancelAtText(trigger);
    const uint32_t code = RunUpdate(FastConfig(), 1, 1);
    ASSERT_TRUE(m_harness.LastWindow()->HasText(trigger));
    EXPECT_NE(code, RC_UPDATE_FINISHED);
    EXPECT_FALSE(IsResultCode(code)) << std::hex << code;
    EXPECT_EQ(Counters().flashPrograms, 0u);
    EXPECT_EQ(Running(), "05.100-02.005");
    EXPECT_EQ(m_sim->GetSettledSnapshot(3000).state, sim::CInstrument::State::kScpi);
    EXPECT_FALSE(m_harness.LastWindow()->HasText(IDS_PROG_PREPARE_FLASH));
}

INSTANTIATE_TEST_SUITE_P(Steps, UpdateCancelTest,
                         ::testing::Values(IDS_PROG_READ_USER_SETTINGS, IDS_PROG_UPDATE_STARTED, IDS_PROG_CHECKSUM));

// A click that reaches the thread after the FLASH programming has begun (the
// window may not have hidden its button yet) must not stop it.
TEST_F(UpdateThreadTest, CancelOnceTheFlashIsBeingProgrammedIsIgnored) {
    int cancels = 0;
    const uint32_t code = RunUpdate(FastConfig(), 1, 1, [&](CRecordingProgressWindow& window, CDevUpdateThread& thread) {
        if (window.HasText(IDS_PROG_PREPARE_FLASH) && cancels < 3) {
            thread.CancelUpdate();
            ++cancels;
        }
    });
    EXPECT_GT(cancels, 0);
    EXPECT_EQ(code, RC_UPDATE_FINISHED);
    EXPECT_EQ(Running(), "05.306-02.011");
}

TEST_F(UpdateThreadTest, DestroyedWhileRunningStopsAndReportsNothing) {
    m_sim = StartSim(FastConfig());
    auto thread = m_harness.Start(SerialPort(m_sim->ComName()), MakeDevice(FastConfig()), 0, 0);
    auto window = m_harness.LastWindow();
    ASSERT_TRUE(m_harness.Window().PumpUntil([&] { return window->HasText(IDS_PROG_TRANSMIT_DATA); }, 20000));
    thread.reset();
    EXPECT_EQ(m_harness.Destroyed(), 1);
    m_harness.Window().PumpFor(200);
    EXPECT_TRUE(m_harness.Results().empty());
    // The port is free again.
    auto again = m_harness.Run(SerialPort(m_sim->ComName()), MakeDevice(FastConfig()));
    EXPECT_NE(again, CUpdateHarness::kNoResult);
}

TEST_F(UpdateThreadTest, NoImageEndsWith87AndAnUnknownPortKindWith5) {
    CUpdateHarness& h = m_harness;
    const uint32_t flags[2] = {0, 0};
    {
        auto thread = std::make_unique<CDevUpdateThread>(SerialPort("COM99"), MakeDevice(FastConfig()), flags, nullptr,
                                                         0, nullptr, nullptr, &h.Window());
        ASSERT_TRUE(thread->WaitUntilFinished(5000));
    }
    const auto before = h.Results().size();
    auto unknown = std::make_shared<CInterfaceParameter>();
    auto thread = h.Start(unknown, MakeDevice(FastConfig()), 0, 0);
    ASSERT_TRUE(h.PumpResults(before + 1, 5000));
    EXPECT_EQ(h.Results().back().code, ERROR_ACCESS_DENIED);
    thread.reset();
    auto missing = h.Start(SerialPort("COM98"), MakeDevice(FastConfig()), 0, 0);
    ASSERT_TRUE(h.PumpResults(before + 2, 5000));
    EXPECT_NE(h.Results().back().code, 0u);
    EXPECT_EQ(h.LastWindow()->Texts(), std::vector<uint32_t>{IDS_INTERFACE_NOT_INITIALIZED});
}

TEST_F(UpdateThreadTest, FourUpdatesOnFourPortsAtOnce) {
    std::vector<std::unique_ptr<sim::CPtyInstrument>> sims;
    std::vector<std::unique_ptr<CDevUpdateThread>> threads;
    for (int i = 0; i < 4; ++i) sims.push_back(StartSim(FastConfig()));
    for (auto& s : sims) threads.push_back(m_harness.Start(SerialPort(s->ComName()), MakeDevice(FastConfig()), 1, 1));
    ASSERT_TRUE(m_harness.PumpResults(4, 120000));
    for (const auto& r : m_harness.Results()) EXPECT_EQ(r.code, RC_UPDATE_FINISHED);
    threads.clear();
    for (auto& s : sims) {
        const auto snap = s->GetSettledSnapshot(3000);
        EXPECT_EQ(snap.identity.version1 + "-" + snap.identity.version2, "05.306-02.011");
        EXPECT_EQ(snap.counters.calibrations, 1u);
    }
    EXPECT_EQ(m_harness.Destroyed(), 4);
}

}  // namespace

// Over a model of a real UART line (a fast one), whose port is held by
// another program at the first try: the bar moves with the chunks, and a
// line error in the middle of the image, on which the port purges its
// queues, ends the update with a failure instead of a hang.
class UpdateOverLineModel : public UpdateThreadTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UpdateOverLineModel, ChunksMoveTheBarAndAPurgeEndsTheTransfer) {
    const bool lineError = GetParam();
    const sim::Config config = FastConfig();
    linemodel::LineConfig line = linemodel::LineConfig::Uart();
    line.characterNs = 5000;
    linemodel::InstrumentPeer peer(config);
    int opens = 0;
    CCommDriver::SetDefaultPortOpener([&](const std::string&, std::unique_ptr<platform::ISerialPort>* out) {
        // The first open meets the port still held by another program.
        if (opens++ == 0) return uint32_t{ERROR_ACCESS_DENIED};
        auto port = std::make_unique<linemodel::ModelPort>(line, &peer);
        if (lineError) port->InjectErrorsAt(100000, CE_FRAME);
        *out = std::move(port);
        return 0u;
    });
    auto thread = m_harness.Start(SerialPort("COM45"), MakeDevice(config), 0, 0);
    const bool done = m_harness.PumpResults(1, 240000);
    thread.reset();
    CCommDriver::SetDefaultPortOpener({});
    ASSERT_TRUE(done);
    const uint32_t code = m_harness.Results().at(0).code;
    if (lineError) {
        EXPECT_NE(code, RC_UPDATE_FINISHED);
        EXPECT_EQ(peer.Core().GetCounters().flashPrograms, 0u);
        return;
    }
    EXPECT_EQ(code, RC_UPDATE_FINISHED);
    // One post per wake of the update thread with confirmed chunks: at most
    // one per chunk, and the bar keeps moving. How many confirmations one
    // wake takes depends on how busy the machine is (about two each on a
    // loaded one), so the lower bound leaves room for that.
    size_t bars = 0;
    for (const auto& p : m_harness.LastWindow()->Posts()) bars += p.msg == WM_UPDATE_PROGRESS_BAR;
    const size_t chunks = (FirmwareImageSize() + 79) / 80;
    EXPECT_GE(bars, chunks / 10);
    EXPECT_LE(bars, chunks);
}

INSTANTIATE_TEST_SUITE_P(Line, UpdateOverLineModel, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "LineErrorMidway" : "Whole"; });
