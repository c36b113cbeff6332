// The control interface of the simulated USB library: tests (and the demo
// mode) attach simulated instruments as FTDI devices, pull their plugs and
// make FT_Write take fewer bytes than offered.
//
// The library is loaded like the real one (the program loads the file it
// wrote); control calls must reach the same loaded instance, so callers bind
// these names on a handle of that same file.
#pragma once

#include <cstdint>

#include "sim/SimConfig.h"
#include "usb/ftd2xx.h"

extern "C" {

// Attaches an instrument as a device with `deviceId` (vendor << 16 |
// product) and `serialNumber` (at most 15 characters; the device list
// reports it as it is). `config` may be null for the default instrument.
// Returns 0, or -1 if a device with that serial number is attached.
FTD2XX_API int KORVA_SimAttach(uint32_t deviceId, const char* serialNumber, const sim::Config* config);
// Pulls the plug: the device leaves the list; calls on an open handle fail
// with FT_IO_ERROR. Returns 0, or -1 for an unknown serial number.
FTD2XX_API int KORVA_SimUnplug(const char* serialNumber);
// The next `writes` calls of FT_Write (-1: all) take at most `maxBytes`.
FTD2XX_API int KORVA_SimLimitWrites(const char* serialNumber, uint32_t maxBytes, int writes);
// Runs `inspect` with the device's instrument while nothing else touches it.
FTD2XX_API int KORVA_SimInspect(const char* serialNumber, void (*inspect)(const void* instrument, void* user),
                                void* user);
// Detaches every device (open handles fail from then on).
FTD2XX_API void KORVA_SimReset(void);
}

using PFN_KORVA_SimAttach = int (*)(uint32_t, const char*, const sim::Config*);
using PFN_KORVA_SimUnplug = int (*)(const char*);
using PFN_KORVA_SimLimitWrites = int (*)(const char*, uint32_t, int);
using PFN_KORVA_SimInspect = int (*)(const char*, void (*)(const void*, void*), void*);
using PFN_KORVA_SimReset = void (*)();
