#include "resources/Resources.h"

#include "resources/FirmwareImage.h"

extern "C" const uint8_t korva_resource_6121_begin[];
extern "C" const uint8_t korva_resource_6121_end[];

bool FindEmbeddedFile(uint32_t id, EmbeddedFile& out) {
    switch (id) {
        case IDR_FIRMWARE_IMAGE:
            out.data = FirmwareImageData();
            out.size = FirmwareImageSize();
            return out.size != 0;
        case IDR_USB_LIBRARY:
            out.data = korva_resource_6121_begin;
            out.size = static_cast<size_t>(korva_resource_6121_end - korva_resource_6121_begin);
            return out.size != 0;
        default:
            return false;
    }
}
