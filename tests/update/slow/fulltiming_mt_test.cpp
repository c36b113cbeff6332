// One whole update with the program's own pauses (40 s calibration among
// them), as a technician's run has them. Label "slow": not in the default
// test run.
#include <gtest/gtest.h>

#include <chrono>

#include "base/ResultCodes.h"
#include "support/UpdateTestSupport.h"

using namespace updtest;

TEST(UpdateAtFullTiming, KeptSettingsAndCalibrationWithTheRealPauses) {
    SetUpdateTiming(UpdateTiming::Standard());
    RuntimeDirScope runtime;
    CUpdateHarness harness;
    sim::Config config = FastConfig();
    sim::CPtyInstrument instrument(config);
    ASSERT_EQ(instrument.Start(20), 0u);
    const auto start = std::chrono::steady_clock::now();
    const uint32_t code = harness.Run(SerialPort(instrument.ComName()), MakeDevice(config), 1, 1, {}, 240000);
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(code, RC_UPDATE_FINISHED);
    // The calibration alone is given 40 s.
    EXPECT_GE(seconds, 40);
    const auto snapshot = instrument.GetSnapshot();
    EXPECT_EQ(snapshot.identity.version1 + "-" + snapshot.identity.version2, "05.306-02.011");
    EXPECT_EQ(snapshot.counters.calibrations, 1u);
    EXPECT_EQ(snapshot.counters.factoryStores, 1u);
}
