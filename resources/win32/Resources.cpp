// The embedded files on Windows: resources of type "File" in the program
// itself (resources/win32/Firmware.rc), mapped for the life of the program.
#include "resources/Resources.h"

#include <windows.h>

#include "resources/FirmwareImage.h"

bool FindEmbeddedFile(uint32_t id, EmbeddedFile& out) {
    if (id > 0xFFFF) return false;
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), L"File");
    if (found == nullptr) return false;
    const DWORD size = ::SizeofResource(module, found);
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (data == nullptr || size == 0) return false;
    out.data = static_cast<const uint8_t*>(data);
    out.size = size;
    return true;
}

const uint8_t* FirmwareImageData() {
    EmbeddedFile file;
    return FindEmbeddedFile(IDR_FIRMWARE_IMAGE, file) ? file.data : nullptr;
}

size_t FirmwareImageSize() {
    EmbeddedFile file;
    return FindEmbeddedFile(IDR_FIRMWARE_IMAGE, file) ? file.size : 0;
}
