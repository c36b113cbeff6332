// The program's embedded files, by resource number.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t IDR_FIRMWARE_IMAGE = 6120;
inline constexpr uint32_t IDR_USB_LIBRARY = 6121;

struct EmbeddedFile {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The file embedded under `id`; false (and `out` untouched) when there is
// none. The bytes live as long as the program and are never copied.
bool FindEmbeddedFile(uint32_t id, EmbeddedFile& out);
