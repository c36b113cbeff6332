// Building identification replies and records for the device tests (and
// the private update log they read back).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/ByteBuffer.h"
#include "device/DeviceList.h"
#include "../../base/support/LogCapture.h"

using Boards = std::array<uint16_t, BOARD_COUNT>;  // record order: AB CRT FC IF MB MC PS TE YF YP

// "#" + digit count + length + the 4-byte records (little-endian code, value).
CByteBuffer ModuleBlock(const std::vector<std::pair<uint16_t, uint16_t>>& records);

struct DeviceTraits {
    std::string name = "QV3108-2";
    uint32_t hardwareId = 0x10011000;
    Boards boards = {1, 0, 5, 1, 10, 1, 0, 0, 3, 10};  // row 21
    std::string version1 = "05.000";
    std::string version2 = "02.000";
    std::string serial = "012345678";
};
DevicePtr MakeDevice(const DeviceTraits& traits = {});
PortPtr SerialPort(const char* name);
PortPtr UsbPort(uint32_t deviceId, const char* serial);
