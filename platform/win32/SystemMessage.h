// The system's own error texts, for numbers the program has no text of its
// own for. Kept apart from Win32.h so that SysError.cpp needs no system header.
#pragma once

#include <cstdint>
#include <string>

namespace platform::win32 {

// The system's message for `code` in the given primary language (else the
// user's language, else English); empty when the system has none.
std::string SystemMessageText(uint32_t code, uint16_t languageId);

}  // namespace platform::win32
