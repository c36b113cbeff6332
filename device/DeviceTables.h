// The data tables of device identification and firmware compatibility.
//
// Each table is typed once, here and in DeviceTables.cpp; code reaches the
// rows only through these accessors. Constant data: any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Slots of the board IDs in a device record, in record order.
enum BoardSlot : uint8_t {
    BOARD_AB = 0,
    BOARD_CRT,
    BOARD_FC,
    BOARD_IF,
    BOARD_MB,
    BOARD_MC,
    BOARD_PS,
    BOARD_TE,
    BOARD_YF,
    BOARD_YP,
    BOARD_COUNT
};

// Version change flags.
inline constexpr uint32_t VC_NOT_AT_ONCE = 0x00000001;
inline constexpr uint32_t VC_NO_USB_UPDATE = 0x00000010;
inline constexpr uint32_t VC_KEEP_SETTINGS = 0x00010000;
inline constexpr uint32_t VC_CALIBRATE = 0x00020000;
inline constexpr uint32_t VC_CHANGE_IMPOSSIBLE = 0x40000000;
inline constexpr uint32_t VC_DOWNGRADE = 0x80000000;  // computed, never in the table

struct HardwareConfigRow {
    uint32_t hardwareId;
    const char* name;  // what BuildDeviceName gives for hardwareId
    uint16_t boards[BOARD_COUNT];  // record order; 0 = any value, except for MC
    const char* minVersion1;  // lowest firmware the hardware accepts
    const char* minVersion2;
};

struct VersionChangeRow {
    double deviceFrom, deviceTo;    // device version 1, both inclusive
    double carriedFrom, carriedTo;  // carried version 1, both inclusive
    uint32_t flags;
};

std::span<const HardwareConfigRow> HardwareConfigTable();
std::span<const VersionChangeRow> VersionChangeTable();

// Model name by model index (hardware ID bits 27-16); nullptr outside 0-7.
const char* ModelName(uint32_t modelIndex);
// Suffix by variant index (hardware ID bits 15-12, 0-15): "", "-2" ... "-16".
const char* VariantSuffix(uint32_t variantIndex);
// Device type name by device class (hardware ID bits 31-28, 0-15); "" for
// unnamed classes.
const char* DeviceTypeName(uint32_t deviceClass, bool german);
// Record slot of the board that a 16-bit wire code names; -1 for codes
// above 9.
int BoardSlotOfWireCode(uint32_t wireCode);
