// The firmware the program carries and the program's own version, as the
// start-up log, the main window's title and the About box show them.
#pragma once

#include "device/CarriedFirmware.h"

inline constexpr char kProgramFileVersion[] = "6.000";

// Standing in for the named mutex that marks a running copy.
inline constexpr char kSingleInstanceMutexName[] = "__KORVA Instruments GmbH - CUpdateApplication - Generic Mutex__";
