// The firmware image the program carries (resource 6120, IDR_FIRMWARE_IMAGE):
// a read-only block of the program's own data, never copied or freed.
// Thread: any.
#pragma once

#include <cstddef>
#include <cstdint>

const uint8_t* FirmwareImageData();
size_t FirmwareImageSize();
