// System error numbers of the program and their texts.
//
// The program speaks Windows error numbers everywhere (they are what its log
// files and messages have always carried), so this layer translates errno
// into them and owns the texts for every number in English and German.
// All functions are callable from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Win32Types.h"

namespace platform {

// Maps an errno value to the program's error number. EINVAL becomes 87,
// ENOENT 2, EACCES/EPERM/EBUSY 5, EIO 1117, ENODEV/ENXIO 55 and so on;
// a value without a closer match becomes ERROR_GEN_FAILURE (31).
uint32_t ErrorFromErrno(int err);

// Per-thread "last error", as the program's callers expect after a failed
// platform call. Every failing function of this layer sets it.
uint32_t GetLastError();
void SetLastError(uint32_t code);
// Sets the last error from errno and returns it.
uint32_t SetLastErrorFromErrno();

// The text for an error number in German (LANG_GERMAN) or English (any other
// language id). Never fails: a number without a text of its own gets a
// generic text that names it. The text carries no line end.
std::string SystemErrorText(uint32_t code, uint16_t languageId);

}  // namespace platform
