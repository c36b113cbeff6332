#include "resources/FirmwareImage.h"

// Embedded by korva_embed from the image that korva-imagegen writes.
extern "C" const uint8_t korva_resource_6120_begin[];
extern "C" const uint8_t korva_resource_6120_end[];

const uint8_t* FirmwareImageData() { return korva_resource_6120_begin; }

size_t FirmwareImageSize() { return static_cast<size_t>(korva_resource_6120_end - korva_resource_6120_begin); }
