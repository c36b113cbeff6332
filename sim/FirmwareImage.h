// The stand-in firmware image and its identity header.
//
// The updater sends the image as opaque bytes; only the simulated
// instrument looks inside, when it boots from its FLASH, to learn which
// firmware it now runs. The header lets it tell a complete, intact image
// from a partial or damaged one, so a broken transfer never boots as the
// new version.
//
// Layout (little-endian):
//   0  magic "KORVAFW1"          8 bytes
//   8  header size (64)          u32
//  12  image length              u32   whole image, header included
//  16  model                     16 bytes, zero padded ("QV3108-2")
//  32  version 1                 8 bytes, zero padded ("05.306")
//  40  version 2                 8 bytes, zero padded ("02.011")
//  48  reserved                  8 bytes, zero
//  56  CRC-32 of bytes 0..55     u32
//  60  CRC-32 of bytes 64..end   u32
// Thread: any (pure functions).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

inline constexpr size_t kFirmwareHeaderSize = 64;
// The size of the image the program carries.
inline constexpr size_t kStandInImageSize = 1137568;
inline constexpr uint32_t kStandInSeed = 0x4B4F5256;  // "KORV"

struct FirmwareIdentity {
    std::string model;
    std::string version1;
    std::string version2;
};

// "QV3108-2", "05.306", "02.011".
FirmwareIdentity StandInIdentity();

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

// A deterministic image of `length` bytes (at least the header size) with
// the identity in its header and pseudo-random code bytes behind it.
std::vector<uint8_t> BuildFirmwareImage(const FirmwareIdentity& identity, size_t length, uint32_t seed);

// Checks the image starting at `data`, of which `available` bytes can be
// read. True only for an intact header, an image that fits completely and a
// matching body checksum; then `identity` (and `length`) are filled.
bool ReadFirmwareImage(const uint8_t* data, size_t available, FirmwareIdentity& identity,
                       uint32_t* length = nullptr);

}  // namespace sim
