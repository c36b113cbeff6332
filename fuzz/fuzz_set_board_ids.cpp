// Feeds arbitrary hardware-module blocks to a record and checks that only
// the boards named by whole records inside the declared length change.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "device/DeviceParameter.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CDeviceParameter record;
    Require(record.SetIdnParameter("KORVA,QV3108-2,012345678,HW10011000,SW05.000-02.000") == 1);
    const std::string identity = record.GetSoftwareVersion() + record.GetDeviceName() + record.GetSerialNumber();
    uint16_t before[BOARD_COUNT];
    for (int slot = 0; slot < BOARD_COUNT; ++slot) before[slot] = record.GetBoardId(static_cast<BoardSlot>(slot));

    // An exact-size copy: any read past the reply's end is a heap overflow.
    const CByteBuffer reply(data, size);
    const int result = record.SetBoardIds(reply);
    Require(result == 0 || result == 1);

    int changed = 0;
    for (int slot = 0; slot < BOARD_COUNT; ++slot)
        if (record.GetBoardId(static_cast<BoardSlot>(slot)) != before[slot]) ++changed;
    // Each changed board needs a 4-byte record behind "#" and its digits.
    Require(static_cast<size_t>(changed) * 4 + 3 <= size || changed == 0);
    Require(identity == record.GetSoftwareVersion() + record.GetDeviceName() + record.GetSerialNumber());
    Require(record.GetMatchedConfigurations().size() <= 1);
    for (uint32_t code = 0; code < 12; ++code) (void)record.GetBoardIdText(code);
    (void)record.CheckDeviceParameter();
    (void)record.IsMonitorSuitable(2.0);
    return 0;
}
