// Feeds arbitrary "*IDN?" replies to a record that already holds an
// identity and checks what must hold whatever a port delivers.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "device/DeviceParameter.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CDeviceParameter record;
    record.SetBoardIds(CByteBuffer(std::string_view("#18\x05\x00\x01\x00\x04\x00\x01\x00", 11)));
    Require(record.SetIdnParameter("KORVA,QV3108-2,012345678,HW10011000,SW05.000-02.000") == 1);
    const std::string before = record.GetDescription();

    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const int result = record.SetIdnParameter(reply);
    Require(result == 0 || result == 1);

    // Fixed fields stay within their sizes, the name within the reply.
    Require(record.GetSerialNumber().size() <= 9);
    const std::string version = record.GetSoftwareVersion();
    Require(version.size() <= 13 && version.find('-') != std::string::npos);
    Require(record.GetDeviceName().size() <= (size > 8 ? size : 8));
    Require(record.GetHardwareIdText().size() == 10);
    // Board IDs are never touched by this reply.
    Require(record.GetBoardIdText(5) == "1" && record.GetBoardIdText(4) == "1");
    if (result == 0) {
        // Either unchanged, or the identity cleared; nothing in between.
        const bool unchanged = record.GetDescription() == before;
        const bool cleared = record.GetDeviceName().empty() && record.GetSerialNumber().empty() &&
                             version == "-" && record.GetHardwareId() == 0;
        Require(unchanged || cleared);
    }
    Require(record.GetMatchedConfigurations().size() <= 1);
    // The rules must give a defined answer for whatever was parsed.
    (void)record.CheckDeviceParameter();
    (void)record.GetVersionChangeFlags();
    (void)record.HasTargetFirmware();
    (void)record.GetDeviceType();
    (void)record.GetHardwareDeviceName();
    return 0;
}
