#include "device/DeviceTables.h"

#include <iterator>

namespace {

// Known hardware configurations. Boards in record order:
//   AB, CRT, FC, IF, MB, MC, PS, TE, YF, YP
// The name column is what BuildDeviceName yields for the ID; the two
// versions are the lowest firmware this hardware accepts.
constexpr HardwareConfigRow kHardwareConfigTable[] = {
    {0x10040000, "QV0000", { 0,  0,  0,  0,  0,  0,  0,  0,  0,  0}, "01.000", "01.113"},  // 0
    {0x10041000, "QV0000-2", { 0,  0,  0,  0,  0,  1,  0,  0,  0,  0}, "02.000", "01.202"},  // 1
    {0x10041000, "QV0000-2", { 0,  0,  0,  0,  0,  2,  0,  0,  0,  0}, "02.000", "01.202"},  // 2
    {0x10000000, "QV3100", { 0,  0,  2,  0, 10,  0,  0,  0,  3,  2}, "02.100", "01.004"},  // 3
    {0x10000002, "QV3100", { 0,  0,  2,  0, 10,  0,  0,  0,  3, 10}, "02.400", "01.120"},  // 4
    {0x10000003, "QV3100", { 0,  0,  4,  0, 10,  0,  0,  0,  3,  2}, "03.004", "01.125"},  // 5
    {0x10000004, "QV3100", { 0,  0,  4,  0, 10,  0,  0,  0,  3, 10}, "03.004", "01.125"},  // 6
    {0x10000005, "QV3100", { 0,  0,  8,  0, 10,  0,  0,  0,  3,  2}, "05.006", "02.004"},  // 7
    {0x10000006, "QV3100", { 0,  0,  8,  0, 10,  0,  0,  0,  3, 10}, "05.006", "02.004"},  // 8
    {0x10000007, "QV3100", { 0,  0, 12,  0, 10,  0,  0,  0,  3,  2}, "05.100", "02.005"},  // 9
    {0x10000008, "QV3100", { 0,  0, 12,  0, 10,  0,  0,  0,  3, 10}, "05.100", "02.005"},  // 10
    {0x10001000, "QV3100-2", { 0,  0,  6,  0, 10,  0,  0,  0,  3, 10}, "05.000", "02.000"},  // 11
    {0x10001001, "QV3100-2", { 0,  0, 10,  0, 10,  0,  0,  0,  3, 10}, "05.100", "02.005"},  // 12
    {0x10010000, "QV3108", { 1,  0,  1,  0, 10,  0,  0,  0,  3,  2}, "02.100", "01.004"},  // 13
    {0x10010002, "QV3108", { 1,  0,  1,  0, 10,  0,  0,  0,  3, 10}, "02.400", "01.120"},  // 14
    {0x10010003, "QV3108", { 1,  0,  3,  0, 10,  0,  0,  0,  3,  2}, "03.004", "01.125"},  // 15
    {0x10010004, "QV3108", { 1,  0,  3,  0, 10,  0,  0,  0,  3, 10}, "03.004", "01.125"},  // 16
    {0x10010005, "QV3108", { 1,  0,  7,  0, 10,  0,  0,  0,  3,  2}, "05.006", "02.004"},  // 17
    {0x10010006, "QV3108", { 1,  0,  7,  0, 10,  0,  0,  0,  3, 10}, "05.006", "02.004"},  // 18
    {0x10010007, "QV3108", { 1,  0, 11,  0, 10,  0,  0,  0,  3,  2}, "05.100", "02.005"},  // 19
    {0x10010008, "QV3108", { 1,  0, 11,  0, 10,  0,  0,  0,  3, 10}, "05.100", "02.005"},  // 20
    {0x10011000, "QV3108-2", { 1,  0,  5,  1, 10,  1,  0,  0,  3, 10}, "05.000", "02.000"},  // 21
    {0x10011001, "QV3108-2", { 1,  0,  9,  1, 10,  1,  0,  0,  3, 10}, "05.100", "02.005"},  // 22
    {0x10020000, "QV3600", { 0,  0,  2,  0, 10,  0,  0,  0,  2,  2}, "02.100", "01.004"},  // 23
    {0x10020002, "QV3600", { 0,  0,  2,  0, 10,  0,  0,  0,  2, 10}, "02.400", "01.120"},  // 24
    {0x10020003, "QV3600", { 0,  0,  4,  0, 10,  0,  0,  0,  2,  2}, "03.004", "01.125"},  // 25
    {0x10020004, "QV3600", { 0,  0,  4,  0, 10,  0,  0,  0,  2, 10}, "03.004", "01.125"},  // 26
    {0x10020005, "QV3600", { 0,  0,  8,  0, 10,  0,  0,  0,  2,  2}, "05.006", "02.004"},  // 27
    {0x10020006, "QV3600", { 0,  0,  8,  0, 10,  0,  0,  0,  2, 10}, "05.006", "02.004"},  // 28
    {0x10020007, "QV3600", { 0,  0, 12,  0, 10,  0,  0,  0,  2,  2}, "05.100", "02.005"},  // 29
    {0x10020008, "QV3600", { 0,  0, 12,  0, 10,  0,  0,  0,  2, 10}, "05.100", "02.005"},  // 30
    {0x10021000, "QV3600-2", { 0,  0,  6,  0, 10,  0,  0,  0,  2, 10}, "05.200", "02.007"},  // 31
    {0x10021001, "QV3600-2", { 0,  0, 10,  0, 10,  0,  0,  0,  2, 10}, "05.200", "02.007"},  // 32
    {0x10030000, "QV3608", { 1,  0,  1,  0, 10,  0,  0,  0,  2,  1}, "02.100", "01.004"},  // 33
    {0x10030002, "QV3608", { 1,  0,  1,  0, 10,  0,  0,  0,  2, 12}, "02.400", "01.120"},  // 34
    {0x10030003, "QV3608", { 1,  0,  3,  0, 10,  0,  0,  0,  2,  1}, "03.004", "01.125"},  // 35
    {0x10030004, "QV3608", { 1,  0,  3,  0, 10,  0,  0,  0,  2, 12}, "03.004", "01.125"},  // 36
    {0x10030005, "QV3608", { 1,  0,  7,  0, 10,  0,  0,  0,  2,  1}, "05.006", "02.004"},  // 37
    {0x10030006, "QV3608", { 1,  0,  7,  0, 10,  0,  0,  0,  2, 12}, "05.006", "02.004"},  // 38
    {0x10030007, "QV3608", { 1,  0, 11,  0, 10,  0,  0,  0,  2,  1}, "05.100", "02.005"},  // 39
    {0x10030008, "QV3608", { 1,  0, 11,  0, 10,  0,  0,  0,  2, 12}, "05.100", "02.005"},  // 40
    {0x10031000, "QV3608-2", { 1,  0,  5,  1, 10,  1,  0,  0,  2, 12}, "05.000", "02.000"},  // 41
    {0x10031001, "QV3608-2", { 1,  0,  9,  1, 10,  1,  0,  0,  2, 12}, "05.100", "02.005"},  // 42
    {0x10071000, "QV4205-2", { 0,  0,  6,  0,  1,  2,  0,  0,  4, 14}, "05.100", "02.005"},  // 43
    {0x10071001, "QV4205-2", { 0,  0, 10,  0,  1,  2,  0,  0,  4, 14}, "05.100", "02.005"},  // 44
    {0x10071002, "QV4205-2", { 0,  0, 10,  0,  2,  2,  0,  0,  4, 14}, "05.300", "02.009"},  // 45
    {0x10060000, "QV4208", { 2,  0,  5,  1,  1,  1,  0,  0,  4, 13}, "05.000", "02.000"},  // 46
    {0x10060001, "QV4208", { 2,  0,  9,  1,  1,  1,  0,  0,  4, 13}, "05.100", "02.005"},  // 47
    {0x10060002, "QV4208", { 2,  0,  9,  1,  2,  1,  0,  0,  4, 13}, "05.300", "02.009"},  // 48
    {0x10050000, "D+S7305C", { 1,  0,  1,  0, 10,  0,  0,  0,  2,  2}, "02.201", "01.113"},  // 49
    {0x10050002, "D+S7305C", { 1,  0,  1,  0, 10,  0,  0,  0,  2, 10}, "02.400", "01.120"},  // 50
    {0x10050003, "D+S7305C", { 1,  0,  3,  0, 10,  0,  0,  0,  2,  2}, "03.004", "01.125"},  // 51
    {0x10050004, "D+S7305C", { 1,  0,  3,  0, 10,  0,  0,  0,  2, 10}, "03.004", "01.125"},  // 52
    {0x10050005, "D+S7305C", { 1,  0,  7,  0, 10,  0,  0,  0,  2,  2}, "05.006", "02.004"},  // 53
    {0x10050006, "D+S7305C", { 1,  0,  7,  0, 10,  0,  0,  0,  2, 10}, "05.006", "02.004"},  // 54
    {0x10050007, "D+S7305C", { 1,  0, 11,  0, 10,  0,  0,  0,  2,  2}, "05.100", "02.005"},  // 55
    {0x10050008, "D+S7305C", { 1,  0, 11,  0, 10,  0,  0,  0,  2, 10}, "05.100", "02.005"},  // 56
};
static_assert(std::size(kHardwareConfigTable) == 57);

// Version steps: device version 1 range, carried version 1 range, flags.
// Row order matters: the first row that holds the versions wins.
constexpr VersionChangeRow kVersionChangeTable[] = {
    { 1.000,  2.120,  1.000,  2.199, 0x00000010},  // 0 VC_NO_USB_UPDATE
    { 1.000,  2.120,  2.200, 99.999, 0x00000011},  // 1 VC_NOT_AT_ONCE + VC_NO_USB_UPDATE
    { 2.121,  2.199,  1.000,  2.199, 0x00000010},  // 2 VC_NO_USB_UPDATE
    { 2.121,  2.199,  2.200, 99.999, 0x00030010},  // 3 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CALIBRATE
    { 2.200,  2.299,  1.000,  2.120, 0x40000010},  // 4 VC_NO_USB_UPDATE + VC_CHANGE_IMPOSSIBLE
    { 2.200,  2.299,  2.121,  2.199, 0x40010010},  // 5 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CHANGE_IMPOSSIBLE
    { 2.200,  2.299,  2.200,  2.299, 0x00000010},  // 6 VC_NO_USB_UPDATE
    { 2.200,  2.299,  2.300, 99.999, 0x00030010},  // 7 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CALIBRATE
    { 2.300,  2.305,  1.000,  2.120, 0x40000010},  // 8 VC_NO_USB_UPDATE + VC_CHANGE_IMPOSSIBLE
    { 2.300,  2.305,  2.121,  2.199, 0x40010010},  // 9 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CHANGE_IMPOSSIBLE
    { 2.300,  2.305,  2.200,  2.299, 0x40030010},  // 10 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CALIBRATE + VC_CHANGE_IMPOSSIBLE
    { 2.300,  2.305,  2.300,  2.305, 0x00000010},  // 11 VC_NO_USB_UPDATE
    { 2.300,  2.305,  2.306, 99.999, 0x00030010},  // 12 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CALIBRATE
    { 2.306,  2.399,  1.000,  2.120, 0x40000010},  // 13 VC_NO_USB_UPDATE + VC_CHANGE_IMPOSSIBLE
    { 2.306,  2.399,  2.121,  2.199, 0x40010010},  // 14 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CHANGE_IMPOSSIBLE
    { 2.306,  2.399,  2.200,  2.305, 0x40030010},  // 15 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CALIBRATE + VC_CHANGE_IMPOSSIBLE
    { 2.306,  2.399,  2.306,  2.999, 0x00000010},  // 16 VC_NO_USB_UPDATE
    { 2.306,  2.399,  3.000, 99.999, 0x00030010},  // 17 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CALIBRATE
    { 2.400,  2.999,  1.000,  2.120, 0x40000010},  // 18 VC_NO_USB_UPDATE + VC_CHANGE_IMPOSSIBLE
    { 2.400,  2.999,  2.121,  2.199, 0x40010010},  // 19 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CHANGE_IMPOSSIBLE
    { 2.400,  2.999,  2.200,  2.305, 0x40030010},  // 20 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CALIBRATE + VC_CHANGE_IMPOSSIBLE
    { 2.400,  2.999,  2.306,  2.999, 0x00000010},  // 21 VC_NO_USB_UPDATE
    { 2.400,  2.999,  3.000, 99.999, 0x00030010},  // 22 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CALIBRATE
    { 3.000,  3.099,  1.000,  2.120, 0x40000010},  // 23 VC_NO_USB_UPDATE + VC_CHANGE_IMPOSSIBLE
    { 3.000,  3.099,  2.121,  2.199, 0x40010010},  // 24 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CHANGE_IMPOSSIBLE
    { 3.000,  3.099,  2.200,  2.999, 0x40030010},  // 25 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CALIBRATE + VC_CHANGE_IMPOSSIBLE
    { 3.000,  3.099,  3.000,  4.003, 0x00000010},  // 26 VC_NO_USB_UPDATE
    { 3.000,  3.099,  4.004, 99.999, 0x00030010},  // 27 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CALIBRATE
    { 3.100,  3.999,  1.000,  2.120, 0x40000010},  // 28 VC_NO_USB_UPDATE + VC_CHANGE_IMPOSSIBLE
    { 3.100,  3.999,  2.121,  2.199, 0x40010010},  // 29 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CHANGE_IMPOSSIBLE
    { 3.100,  3.999,  2.200,  2.999, 0x40030010},  // 30 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CALIBRATE + VC_CHANGE_IMPOSSIBLE
    { 3.100,  3.999,  3.000,  4.003, 0x00000010},  // 31 VC_NO_USB_UPDATE
    { 3.100,  3.999,  4.004, 99.999, 0x00030010},  // 32 VC_NO_USB_UPDATE + VC_KEEP_SETTINGS + VC_CALIBRATE
    { 4.000,  4.003,  1.000,  2.120, 0x40000000},  // 33 VC_CHANGE_IMPOSSIBLE
    { 4.000,  4.003,  2.121,  2.199, 0x40010000},  // 34 VC_KEEP_SETTINGS + VC_CHANGE_IMPOSSIBLE
    { 4.000,  4.003,  2.200,  2.999, 0x40030000},  // 35 VC_KEEP_SETTINGS + VC_CALIBRATE + VC_CHANGE_IMPOSSIBLE
    { 4.000,  4.003,  3.000,  4.003, 0x00000000},  // 36 (none)
    { 4.000,  4.003,  4.004, 99.999, 0x00030000},  // 37 VC_KEEP_SETTINGS + VC_CALIBRATE
    { 4.004,  4.999,  1.000,  2.120, 0x40000000},  // 38 VC_CHANGE_IMPOSSIBLE
    { 4.004,  4.999,  2.121,  2.199, 0x40010000},  // 39 VC_KEEP_SETTINGS + VC_CHANGE_IMPOSSIBLE
    { 4.004,  4.999,  2.200,  4.003, 0x40030000},  // 40 VC_KEEP_SETTINGS + VC_CALIBRATE + VC_CHANGE_IMPOSSIBLE
    { 4.004,  4.999,  4.004,  4.999, 0x00000000},  // 41 (none)
    { 4.004,  4.999,  5.000, 99.999, 0x00030000},  // 42 VC_KEEP_SETTINGS + VC_CALIBRATE
    { 5.000, 99.999,  1.000,  2.120, 0x40000000},  // 43 VC_CHANGE_IMPOSSIBLE
    { 5.000, 99.999,  2.121,  2.199, 0x40010000},  // 44 VC_KEEP_SETTINGS + VC_CHANGE_IMPOSSIBLE
    { 5.000, 99.999,  2.200,  4.999, 0x40030000},  // 45 VC_KEEP_SETTINGS + VC_CALIBRATE + VC_CHANGE_IMPOSSIBLE
    { 5.000, 99.999,  5.000, 99.999, 0x00000000},  // 46 (none)
};
static_assert(std::size(kVersionChangeTable) == 47);

constexpr const char* kModelNameTable[] = {
    "QV3100", "QV3108", "QV3600", "QV3608", "QV0000", "D+S7305C", "QV4208", "QV4205",
};

constexpr const char* kVariantSuffixTable[] = {
    "",    "-2",  "-3",  "-4",  "-5",  "-6",  "-7",  "-8",
    "-9", "-10", "-11", "-12", "-13", "-14", "-15", "-16",
};

constexpr const char* kDeviceTypeEnglish[16] = {
    "", "Oscilloscope", "Spectrum Analyser", "Special Device", "Modular Device",
    "System Device", "Option", "Accessory", "Tester", "", "", "", "", "", "", "",
};

constexpr const char* kDeviceTypeGerman[16] = {
    "", "Oszilloskop", "Spektrum Analysator", "Sondergerät", "Modulargerät",
    "Systemgerät", "Option", "Zubehör", "Tester", "", "", "", "", "", "", "",
};

// Wire code (index) -> record slot.
constexpr BoardSlot kWireCodeSlots[] = {
    BOARD_YP, BOARD_YF, BOARD_MB, BOARD_FC, BOARD_AB, BOARD_MC, BOARD_IF, BOARD_PS, BOARD_CRT, BOARD_TE,
};

}  // namespace

std::span<const HardwareConfigRow> HardwareConfigTable() { return kHardwareConfigTable; }

std::span<const VersionChangeRow> VersionChangeTable() { return kVersionChangeTable; }

const char* ModelName(uint32_t modelIndex) {
    return modelIndex < std::size(kModelNameTable) ? kModelNameTable[modelIndex] : nullptr;
}

const char* VariantSuffix(uint32_t variantIndex) {
    return variantIndex < std::size(kVariantSuffixTable) ? kVariantSuffixTable[variantIndex] : "";
}

const char* DeviceTypeName(uint32_t deviceClass, bool german) {
    if (deviceClass >= 16) return "";
    return german ? kDeviceTypeGerman[deviceClass] : kDeviceTypeEnglish[deviceClass];
}

int BoardSlotOfWireCode(uint32_t wireCode) {
    return wireCode < std::size(kWireCodeSlots) ? kWireCodeSlots[wireCode] : -1;
}
