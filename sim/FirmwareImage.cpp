#include "sim/FirmwareImage.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace sim {

namespace {

constexpr char kMagic[8] = {'K', 'O', 'R', 'V', 'A', 'F', 'W', '1'};

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutText(uint8_t* p, size_t size, const std::string& text) {
    std::memset(p, 0, size);
    std::memcpy(p, text.data(), std::min(text.size(), size - 1));
}

std::string GetText(const uint8_t* p, size_t size) {
    size_t n = 0;
    while (n < size && p[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

}  // namespace

FirmwareIdentity StandInIdentity() { return {"QV3108-2", "05.306", "02.011"}; }

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    const auto& table = CrcTable();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::vector<uint8_t> BuildFirmwareImage(const FirmwareIdentity& identity, size_t length, uint32_t seed) {
    if (length < kFirmwareHeaderSize) length = kFirmwareHeaderSize;
    std::vector<uint8_t> image(length, 0);
    // xorshift32: deterministic on every platform, never zero with a
    // non-zero seed.
    uint32_t x = seed ? seed : 1;
    for (size_t i = kFirmwareHeaderSize; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image[i] = static_cast<uint8_t>(x >> 11);
    }
    uint8_t* h = image.data();
    std::memcpy(h, kMagic, sizeof kMagic);
    PutU32(h + 8, static_cast<uint32_t>(kFirmwareHeaderSize));
    PutU32(h + 12, static_cast<uint32_t>(length));
    PutText(h + 16, 16, identity.model);
    PutText(h + 32, 8, identity.version1);
    PutText(h + 40, 8, identity.version2);
    PutU32(h + 60, Crc32(h + kFirmwareHeaderSize, length - kFirmwareHeaderSize));
    PutU32(h + 56, Crc32(h, 56));
    return image;
}

bool ReadFirmwareImage(const uint8_t* data, size_t available, FirmwareIdentity& identity, uint32_t* length) {
    if (data == nullptr || available < kFirmwareHeaderSize) return false;
    if (std::memcmp(data, kMagic, sizeof kMagic) != 0) return false;
    if (GetU32(data + 56) != Crc32(data, 56)) return false;
    if (GetU32(data + 8) != kFirmwareHeaderSize) return false;
    const uint32_t total = GetU32(data + 12);
    if (total < kFirmwareHeaderSize || total > available) return false;
    if (GetU32(data + 60) != Crc32(data + kFirmwareHeaderSize, total - kFirmwareHeaderSize)) return false;
    identity.model = GetText(data + 16, 16);
    identity.version1 = GetText(data + 32, 8);
    identity.version2 = GetText(data + 40, 8);
    if (length) *length = total;
    return true;
}

}  // namespace sim
