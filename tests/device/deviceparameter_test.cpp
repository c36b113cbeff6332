#include <gtest/gtest.h>

#include <string>

#include "base/Strings.h"
#include "device/DeviceParameter.h"
#include "support/DeviceFixtures.h"

namespace {

struct Identity {
    std::string name, serial, hwId, version;
};

Identity Read(const CDeviceParameter& d) {
    return {d.GetDeviceName(), d.GetSerialNumber(), d.GetHardwareIdText(), d.GetSoftwareVersion()};
}

void ExpectIdentity(const CDeviceParameter& d, const Identity& want) {
    const Identity got = Read(d);
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(got.serial, want.serial);
    EXPECT_EQ(got.hwId, want.hwId);
    EXPECT_EQ(got.version, want.version);
}

const char* kSample = "KORVA,QV3108,012345678,HW10011000,SW05.306-02.011";

}  // namespace

TEST(DeviceParameter, IdnReplies) {
    struct Case {
        const char* what;
        std::string reply;
        int result;
        Identity want;  // after a prior fill with the sample reply
        bool noise = false;  // no identification reply at all: waited through
    };
    const Identity sample{"QV3108", "012345678", "0x10011000", "05.306-02.011"};
    const Case cases[] = {
        {"sample", kSample, 1, sample},
        {"no comma leaves the record", "KORVA QV3108 garbage", 0, sample, true},
        {"empty", "", 0, sample, true},
        {"one comma leaves the record", "KORVA,QV3108", 0, sample},
        {"no third comma clears the identity", "KORVA,QV3108,012345678", 0, {"", "", "0x00000000", "-"}},
        {"no HW clears", "KORVA,QV3108,1,SW05.306-02.011", 0, {"", "", "0x00000000", "-"}},
        {"no SW clears", "KORVA,QV3108,1,HW10011000", 0, {"", "", "0x00000000", "-"}},
        {"serial cut to 9", "KORVA,QV3108,ABCDEFGHIJKL,HW10011000,SW05.306-02.011", 1,
         {"QV3108", "ABCDEFGHI", "0x10011000", "05.306-02.011"}},
        {"SW without second part", "KORVA,QV3108,1,HW10011000,SW05.306", 1,
         {"QV3108", "1", "0x10011000", "05.306-"}},
        {"short SW field", "KORVA,QV3108,1,HW10011000,SW05", 1, {"QV3108", "1", "0x10011000", "05-"}},
        {"HW reading stops at a non-hex digit", "KORVA,X,1,HW12G4,SW05.306-02.011", 1,
         {"X", "1", "0x00000012", "05.306-02.011"}},
        {"HW without a hex digit keeps the ID", "KORVA,X,1,HWzz,SW05.306-02.011", 1,
         {"X", "1", "0x10011000", "05.306-02.011"}},
        {"HW takes eight digits only", "KORVA,X,1,HW1234567890,SW05.306-02.011", 1,
         {"X", "1", "0x12345678", "05.306-02.011"}},
        {"HW and SW in either order", "KORVA,X,1,SW04.100-01.002 HW10010000", 1,
         {"X", "1", "0x10010000", "04.100-01.002"}},
        {"fields at the end of the text", "KORVA,X,,HW", 0, {"", "", "0x00000000", "-"}},
        {"empty SW", "KORVA,X,,HW1,SW", 1, {"X", "", "0x00000001", "-"}},
        {"zero byte ends the reply", std::string("KORVA,QV3108,012345678,HW1\0,SW05.306-02.011", 43), 0,
         {"", "", "0x00000000", "-"}, true},
        {"binary bytes", "\xff,\x80\x01,\xfe,HW\xff\xff,SW\x90\x91\x92\x93\x94\x95\x96\x97", 1,
         {"\x80\x01", "\xfe", "0x10011000", "\x90\x91\x92\x93\x94\x95-\x97"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDeviceParameter d;
        d.SetBoardIds(ModuleBlock({{4, 7}}));
        ASSERT_EQ(d.SetIdnParameter(kSample), 1);
        EXPECT_EQ(d.SetIdnParameter(c.reply), c.result);
        ExpectIdentity(d, c.want);
        EXPECT_EQ(IsIdentificationReply(c.reply), !c.noise);
        EXPECT_EQ(d.GetBoardIdText(4), "7");  // boards survive every reply
    }
    // A control byte anywhere (a broken boot banner) makes a line noise.
    for (const char* noise : {"KORVA,QV3108\x1b[0m,1,HW1,SW05", "KORVA,QV3108\x7f,1,HW1,SW05"})
        EXPECT_FALSE(IsIdentificationReply(noise)) << noise;
}

TEST(DeviceParameter, OversizedReplyKeepsTheWholeNameAndBoundsTheFields) {
    CDeviceParameter d;
    const std::string name(100000, 'N');
    const std::string serial(5000, 'S');
    EXPECT_EQ(d.SetIdnParameter("KORVA," + name + "," + serial + ",HW" + std::string(5000, 'F') + ",SW" +
                                std::string(5000, '9')),
              1);
    EXPECT_EQ(d.GetDeviceName(), name);
    ExpectIdentity(d, {name, "SSSSSSSSS", "0xFFFFFFFF", "999999-999999"});
}

TEST(DeviceParameter, ModuleBlocks) {
    struct Case {
        const char* what;
        CByteBuffer block;
        int result;
        const char* mc;  // GetBoardIdText(5)
        const char* ab;  // GetBoardIdText(4)
    };
    auto raw = [](const std::string& s) { return CByteBuffer(s.data(), s.size()); };
    const Case cases[] = {
        {"codes 5 and 4", ModuleBlock({{5, 2}, {4, 3}}), 1, "2", "3"},
        {"codes 5 and 12", ModuleBlock({{5, 2}, {12, 3}}), 0, "2", "9"},
        {"unknown first, known after", ModuleBlock({{0x100, 1}, {4, 3}}), 0, "9", "3"},
        {"16-bit values", ModuleBlock({{5, 0xBEEF}}), 1, "48879", "9"},
        {"leading text before #", raw(std::string("junk#14\x05\x00\x02\x00", 11)), 1, "2", "9"},
        {"letter as digit count", raw(std::string("#A4\x05\x00\x02\x00", 7)), 1, "2", "9"},
        {"digit count 0", raw(std::string("#04\x05\x00\x02\x00", 7)), 0, "9", "9"},
        {"digit count above 9", raw(std::string("#:4\x05\x00\x02\x00", 7)), 0, "9", "9"},
        {"no #", raw(std::string("14\x05\x00\x02\x00", 6)), 0, "9", "9"},
        {"# at the end", raw("abc#"), 0, "9", "9"},
        {"digits cut off", raw("#9123"), 0, "9", "9"},
        {"length beyond the data", raw(std::string("#18\x05\x00\x02\x00", 7)), 0, "9", "9"},
        {"length below 4", raw(std::string("#13\x05\x00\x02", 6)), 0, "9", "9"},
        {"length without digits", raw(std::string("#1x\x05\x00\x02\x00", 7)), 0, "9", "9"},
        {"leading digits only", raw(std::string("#24x\x05\x00\x02\x00", 8)), 1, "2", "9"},
        {"bytes past the last record ignored", raw(std::string("#16\x05\x00\x02\x00\x04\x00", 9)), 1, "2", "9"},
        {"bytes past the length ignored", raw(std::string("#14\x05\x00\x02\x00\x04\x00\x01\x00", 11)), 1, "2",
         "9"},
        {"huge length", raw("#9999999999\x05\x00\x02\x00"), 0, "9", "9"},
        {"empty", CByteBuffer(), 0, "9", "9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDeviceParameter d;
        ASSERT_EQ(d.SetBoardIds(ModuleBlock({{5, 9}, {4, 9}, {9, 6}})), 1);
        EXPECT_EQ(d.SetBoardIds(c.block), c.result);
        EXPECT_EQ(d.GetBoardIdText(5), c.mc);
        EXPECT_EQ(d.GetBoardIdText(4), c.ab);
        EXPECT_EQ(d.GetBoardIdText(9), "6");  // never named, never touched
    }
    CDeviceParameter d;
    EXPECT_EQ(d.GetBoardIdText(10), "0");  // beyond the boards
    EXPECT_EQ(d.GetBoardIdText(0xFFFFFFFF), "0");
}

TEST(DeviceParameter, IdsBeyondTheTablesHaveNoNameAndNoType) {
    EXPECT_EQ(CDeviceParameter::BuildDeviceName(0x10072FFF), "QV4205-3");  // low bits do not count
    for (uint32_t id : {0x10090000u, 0x10080000u}) EXPECT_EQ(CDeviceParameter::BuildDeviceName(id), "") << std::hex << id;
    // Kinds and models beyond the type tables.
    for (uint32_t id : {0x90000000u, 0x10110000u}) {
        CDeviceParameter r;
        char reply[64];
        std::snprintf(reply, sizeof reply, "K,N,S,HW%08X,SW05.306-02.011", id);
        r.SetIdnParameter(reply);
        EXPECT_EQ(r.GetDeviceType(), "") << std::hex << id;
    }
}

TEST(DeviceParameter, HardwareMatch) {
    const Boards row21 = {1, 0, 5, 1, 10, 1, 0, 0, 3, 10};
    const Boards zero = {};
    Boards otherAb = row21;
    otherAb[BOARD_AB] = 2;
    Boards extraCrt = row21;  // a board the row leaves open
    extraCrt[BOARD_CRT] = 77;
    Boards mcOnly = {};
    mcOnly[BOARD_MC] = 1;
    struct Case {
        const char* what;
        DeviceTraits traits;
        int row;  // -1: no match
    };
    const Case cases[] = {
        {"row 21", {"QV3108-2", 0x10011000, row21}, 21},
        {"other AB", {"QV3108-2", 0x10011000, otherAb}, -1},
        {"row's zero is a wildcard", {"QV3108-2", 0x10011000, extraCrt}, 21},
        {"all-zero boards match an MC 0 row by ID", {"QV3100", 0x10000000, zero}, 3},
        {"all-zero boards do not match an MC 1 row", {"QV3108-2", 0x10011000, zero}, -1},
        {"only MC set: other boards not compared", {"QV3108-2", 0x10011000, mcOnly}, 21},
        {"MC 0 is exact, not a wildcard", {"QV3100", 0x10000000, mcOnly}, -1},
        {"model index 4 never matches", {"QV0000", 0x10040000, zero}, -1},
        {"model index 4 with MC 1", {"QV0000-2", 0x10041000, mcOnly}, -1},
        {"unknown hardware ID", {"QV3108-2", 0x10011002, row21}, -1},
        {"empty version 2", {"QV3108-2", 0x10011000, row21, "05.000", ""}, -1},
        {"first matching row wins", {"D+S7305C", 0x10050000, zero}, 49},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DevicePtr d = MakeDevice(c.traits);
        const std::vector<uint32_t> matched = d->GetMatchedConfigurations();
        if (c.row < 0) {
            EXPECT_TRUE(matched.empty());
            EXPECT_EQ(d->GetTargetDeviceName(), "");
            EXPECT_EQ(d->GetTargetSoftwareVersion(), "-");
        } else {
            EXPECT_EQ(matched, std::vector<uint32_t>{static_cast<uint32_t>(c.row)});
            EXPECT_EQ(d->GetTargetDeviceName(), "QV3108-2");
            EXPECT_EQ(d->GetTargetSoftwareVersion(), "05.306-02.011");
        }
    }
}

TEST(DeviceParameter, EveryRowMatchesItsOwnBoards) {
    const auto table = HardwareConfigTable();
    for (size_t row = 0; row < table.size(); ++row) {
        Boards boards;
        std::copy(std::begin(table[row].boards), std::end(table[row].boards), boards.begin());
        DevicePtr d = MakeDevice({table[row].name, table[row].hardwareId, boards});
        const auto matched = d->GetMatchedConfigurations();
        if (((table[row].hardwareId >> 16) & 0xFFF) == 4) {
            EXPECT_TRUE(matched.empty()) << "row " << row;
        } else {
            ASSERT_EQ(matched.size(), 1u) << "row " << row;
            // Rows with the same ID and boards do not exist, so the own row wins.
            EXPECT_EQ(matched[0], row);
        }
    }
}

TEST(DeviceParameter, RefillRecomputesTheMatch) {
    DevicePtr d = MakeDevice();
    ASSERT_EQ(d->GetMatchedConfigurations().size(), 1u);
    EXPECT_EQ(d->SetIdnParameter("KORVA,QV3108-2,1"), 0);
    EXPECT_TRUE(d->GetMatchedConfigurations().empty());
    // The target of the earlier match stays.
    EXPECT_EQ(d->GetTargetDeviceName(), "QV3108-2");
}

TEST(DeviceParameter, IsSameDevice) {
    DevicePtr a = MakeDevice();
    EXPECT_TRUE(a->IsSameDevice(*a));
    EXPECT_TRUE(a->IsSameDevice(*MakeDevice()));
    void (*const changes[])(DeviceTraits&) = {
        [](DeviceTraits& s) { s.name = "qv3108-2"; },  // case-sensitive
        [](DeviceTraits& s) { s.serial = "012345679"; },
        [](DeviceTraits& s) { s.hardwareId = 0x10011001; },
        [](DeviceTraits& s) { s.boards[BOARD_YP] = 11; },
        [](DeviceTraits& s) { s.version1 = "05.001"; },
        [](DeviceTraits& s) { s.version2 = "02.001"; },
    };
    for (size_t i = 0; i < std::size(changes); ++i) {
        DeviceTraits traits;
        changes[i](traits);
        EXPECT_FALSE(a->IsSameDevice(*MakeDevice(traits))) << "change " << i;
    }
}

TEST(DeviceParameter, VersionToNumber) {
    EXPECT_EQ(VersionToNumber("05.306"), 5.306);  // equal to the table's literal
    EXPECT_EQ(VersionToNumber("5."), 5.0);
    for (const char* zero : {"", ".", "-1.0", " 5.0", "+5", "inf", "nan", "x5"}) EXPECT_EQ(VersionToNumber(zero), 0.0) << zero;
}
