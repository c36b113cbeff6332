// The firmware the program carries and the program's own version, as the
// start-up log, the main window's title and the About box show them.
#pragma once

inline constexpr char kFirmwareVersion1[] = "05.306";
inline constexpr char kFirmwareVersion2[] = "02.011";
inline constexpr char kTargetModelName[] = "QV3108-2";
inline constexpr char kProgramFileVersion[] = "6.000";

// Standing in for the named mutex that marks a running copy.
inline constexpr char kSingleInstanceMutexName[] = "__KORVA Instruments GmbH - CUpdateApplication - Generic Mutex__";
