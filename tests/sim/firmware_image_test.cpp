// The embedded stand-in image and the header the simulator boots from.
#include <gtest/gtest.h>

#include <cstring>

#include "device/CarriedFirmware.h"
#include "resources/FirmwareImage.h"
#include "sim/FirmwareImage.h"

// A stale embedded image would update the simulator to something else than
// the program announces.
TEST(FirmwareImage, EmbeddedImageIsTheGeneratedStandIn) {
    const auto expected = sim::BuildFirmwareImage(sim::StandInIdentity(), sim::kStandInImageSize, sim::kStandInSeed);
    ASSERT_EQ(FirmwareImageSize(), expected.size());
    EXPECT_EQ(std::memcmp(FirmwareImageData(), expected.data(), expected.size()), 0);
    sim::FirmwareIdentity id;
    ASSERT_TRUE(sim::ReadFirmwareImage(FirmwareImageData(), FirmwareImageSize(), id));
    // The program announces and checks for the identity it has typed in
    // itself; the simulator boots into what the image says.
    EXPECT_EQ(id.model, carried::kModel);
    EXPECT_EQ(id.version1, carried::kVersion1);
    EXPECT_EQ(id.version2, carried::kVersion2);
}
