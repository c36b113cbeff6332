// The simulated instrument's byte-level dialogue, on a virtual clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "sim/FirmwareImage.h"
#include "support/SimDriver.h"

using sim::CInstrument;

namespace {

const std::string kIdn = "*IDN?;\n\r";
const std::string kMonitor = ":Service:Mode kAccess;:System:Software:Monitor;\n\r";

std::string Hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%x", v);
    return b;
}

const std::vector<uint8_t>& StandIn() {
    static const auto image =
        sim::BuildFirmwareImage(sim::StandInIdentity(), sim::kStandInImageSize, sim::kStandInSeed);
    return image;
}

std::string LoadCommand(size_t length) { return "l c000000 " + Hex(static_cast<uint32_t>(length)) + ";\r"; }

// Enters the monitor and checks the prompt and the version reply.
void EnterMonitor(SimDriver& d, const std::string& version = "2.01") {
    ASSERT_EQ(d.Exchange(kMonitor, 50), "MonDeb>");
    ASSERT_EQ(d.Exchange("v;\r", 50), "Version:\t" + version + "\r\nMonDeb>");
}

std::string LoadImage(SimDriver& d, const std::vector<uint8_t>& image) {
    EXPECT_EQ(d.Exchange(LoadCommand(image.size())), "Waiting for 0x" + Hex(image.size()) + " bytes\r\n");
    d.Send(image.data(), image.size());
    return d.Run();
}

}  // namespace

TEST(SimIdentification, ServiceCommandsNeedServiceModeInTheSameMessage) {
    SimDriver d(FastConfig());
    EXPECT_EQ(d.Exchange(":System:Hardware:Moduls?;\n\r"), "");
    EXPECT_EQ(d.Exchange(":System:Error?;\n\r"), "-221,\"Settings conflict\"\n\r");
    EXPECT_EQ(d.Exchange(":Service:Mode kAccess;\n\r"), "");
    EXPECT_EQ(d.Exchange(":System:Software:Monitor;\n\r"), "");  // mode does not carry over
    EXPECT_EQ(d.Inst().GetState(), CInstrument::State::kScpi);
    // Short forms and any case are SCPI too.
    EXPECT_EQ(d.Exchange(":serv:mode kac;:syst:hard:mod?;\n\r").substr(0, 4), "#240");
    EXPECT_EQ(d.Exchange(":System:Error?;\n\r"), "-221,\"Settings conflict\"\n\r");
    EXPECT_EQ(d.Exchange(":System:Error?;\n\r"), "0,\"No error\"\n\r");
}

TEST(SimMonitor, RandomBytesNeverBreakItAndInputStaysBounded) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 4; ++round) {
        SimDriver d(FastConfig());
        if (round >= 2) d.Exchange(kMonitor);
        std::string noise(200000, '\0');
        for (char& ch : noise) ch = static_cast<char>(rng());
        std::vector<uint8_t> bytes(noise.begin(), noise.end());
        EXPECT_LE(d.Inst().Receive(bytes.data(), bytes.size(), d.Now()), sim::kInputCapacity);
        d.Send(noise);
        d.Run(5000, 1 << 22);
        EXPECT_LE(d.Inst().PendingOutput(), 4096u);
    }
}

// ---------------------------------------------------------------- faults

// ---------------------------------------------------------------- boot

TEST(SimBoot, CorruptedOrPartialFlashNeverBootsTheNewVersion) {
    const auto& image = StandIn();
    const std::string oldIdn = "KORVA,QV3108-2,012345678,HW10011000,SW05.100-02.005\n\r";
    for (auto broken : {sim::BrokenFlash::kStayInMonitor, sim::BrokenFlash::kOldIdentity}) {
        for (int variant = 0; variant < 2; ++variant) {
            sim::Config c = FastConfig();
            c.brokenFlash = broken;
            if (variant == 0) c.faults.corruptImageByteAt = 500000;
            SimDriver d(c);
            EnterMonitor(d);
            if (variant == 0) {
                LoadImage(d, image);  // the checksum would tell; programmed anyway
                d.Exchange("cf c000000 115ba0 10000;\r");
            } else {
                LoadImage(d, image);
                d.Exchange("cf c000000 80000 10000;\r");  // only part of it
            }
            const std::string afterRestart = d.Exchange("rs;\r");
            const std::string idn = d.Exchange(kIdn);
            if (broken == sim::BrokenFlash::kStayInMonitor) {
                EXPECT_EQ(afterRestart, "Application check failed\r\nMonDeb>");
                EXPECT_EQ(idn, "Unknown command\r\nMonDeb>");
            } else {
                EXPECT_EQ(afterRestart, "");
                EXPECT_EQ(idn, oldIdn);
            }
        }
    }
}

TEST(SimBoot, OldMonitorBootsFromItsOwnStartAddress) {
    sim::Config c = FastConfig();
    c.monitorVersion = "1.50";
    c.identity.hardwareId = 0x10010007;
    SimDriver d(c);
    EnterMonitor(d, "1.50");
    LoadImage(d, StandIn());
    d.Exchange("cf c000000 115ba0 10000;\r");  // where a new monitor would put it
    d.Exchange("rs;\r");
    EXPECT_EQ(d.Inst().GetState(), CInstrument::State::kMonitor);
    d.Exchange("cf c000000 115ba0 a000;\r");
    d.Exchange("rs;\r");
    EXPECT_EQ(d.Exchange(kIdn), "KORVA,QV3108-2,012345678,HW10010007,SW05.306-02.011\n\r");
}
