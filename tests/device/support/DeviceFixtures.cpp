#include "DeviceFixtures.h"

#include <cstdio>

namespace {

std::string IdnReply(const std::string& name, const std::string& serial, uint32_t hardwareId,
                     const std::string& version1, const std::string& version2) {
    char id[16];
    std::snprintf(id, sizeof id, "%08X", hardwareId);
    return "KORVA," + name + "," + serial + ",HW" + id + ",SW" + version1 + "-" + version2;
}

}  // namespace

CByteBuffer ModuleBlock(const std::vector<std::pair<uint16_t, uint16_t>>& records) {
    const std::string length = std::to_string(records.size() * 4);
    std::string block = "#" + std::to_string(length.size()) + length;
    for (const auto& [code, value] : records) {
        block += static_cast<char>(code & 0xFF);
        block += static_cast<char>(code >> 8);
        block += static_cast<char>(value & 0xFF);
        block += static_cast<char>(value >> 8);
    }
    return CByteBuffer(block.data(), block.size());
}

namespace {

uint16_t WireCodeOf(BoardSlot slot) {
    for (uint16_t code = 0; code < 10; ++code)
        if (BoardSlotOfWireCode(code) == slot) return code;
    return 0xFFFF;
}

CByteBuffer ModuleBlockOf(const Boards& boards) {
    std::vector<std::pair<uint16_t, uint16_t>> records;
    for (int slot = 0; slot < BOARD_COUNT; ++slot)
        records.emplace_back(WireCodeOf(static_cast<BoardSlot>(slot)), boards[slot]);
    return ModuleBlock(records);
}

}  // namespace

DevicePtr MakeDevice(const DeviceTraits& traits) {
    auto device = std::make_shared<CDeviceParameter>();
    device->SetBoardIds(ModuleBlockOf(traits.boards));
    device->SetIdnParameter(IdnReply(traits.name, traits.serial, traits.hardwareId, traits.version1, traits.version2));
    return device;
}

PortPtr SerialPort(const char* name) {
    auto port = std::make_shared<CInterfaceParameter>();
    port->SetSerialPort(name);
    return port;
}

PortPtr UsbPort(uint32_t deviceId, const char* serial) {
    auto port = std::make_shared<CInterfaceParameter>();
    port->SetUsbPort(deviceId, serial);
    return port;
}
