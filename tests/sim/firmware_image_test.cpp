// The embedded stand-in image and the header the simulator boots from.
#include <gtest/gtest.h>

#include <cstring>

#include "resources/FirmwareImage.h"
#include "sim/FirmwareImage.h"

TEST(FirmwareImage, EmbeddedImageIsTheGeneratedStandIn) {
    ASSERT_EQ(FirmwareImageSize(), 1137568u);
    const auto expected = sim::BuildFirmwareImage(sim::StandInIdentity(), sim::kStandInImageSize, sim::kStandInSeed);
    EXPECT_EQ(std::memcmp(FirmwareImageData(), expected.data(), expected.size()), 0);
    sim::FirmwareIdentity id;
    uint32_t length = 0;
    ASSERT_TRUE(sim::ReadFirmwareImage(FirmwareImageData(), FirmwareImageSize(), id, &length));
    EXPECT_EQ(id.model, "QV3108-2");
    EXPECT_EQ(id.version1, "05.306");
    EXPECT_EQ(id.version2, "02.011");
    EXPECT_EQ(length, 1137568u);
}

TEST(FirmwareImage, AnyDamageOrShortageIsRefused) {
    auto image = sim::BuildFirmwareImage({"QV3108-2", "05.306", "02.011"}, 4096, 7);
    sim::FirmwareIdentity id;
    ASSERT_TRUE(sim::ReadFirmwareImage(image.data(), image.size(), id));
    EXPECT_FALSE(sim::ReadFirmwareImage(image.data(), image.size() - 1, id));  // cut short
    for (size_t offset : {size_t(0), size_t(20), size_t(60), size_t(64), size_t(4095)}) {
        auto damaged = image;
        damaged[offset] ^= 0x40;
        EXPECT_FALSE(sim::ReadFirmwareImage(damaged.data(), damaged.size(), id)) << offset;
    }
    EXPECT_NE(sim::BuildFirmwareImage({"QV3108-2", "05.306", "02.011"}, 4096, 8), image);
}
